#!/usr/bin/env python3
"""Benchmarks of polvex.exe: its size and what takes it, the download pace
under wine against curl on the same server and against the pace that reads
of 4096 bytes with a 1 ms pause allow, the dialog thread's cost per progress
message, and the memory of whole runs with a small and a large installer.
Prints a report in Markdown."""
import argparse
import os
import platform
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness as h  # noqa: E402
import site_config  # noqa: E402

WINE_RUN = os.path.join(ROOT, "cmake", "wine-run.sh")
MIB = 1024 * 1024
READ_SIZE = 4096
PAUSE_SECONDS = 0.001


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=True, **kwargs).stdout


def machine():
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    wine = run(["/usr/lib/wine/wine", "--version"]).strip()
    return "%s, %d cores, Linux %s, %s" % (cpu, os.cpu_count(), platform.release(), wine)


def size_report(args):
    exe = args.product
    lines = ["## Size", "", "polvex.exe (stripped): **%d bytes** (goal: 32768)" % os.path.getsize(exe),
             "", "| section | size (bytes; .bss takes no room in the file) |", "|---|---|"]
    for line in run(["i686-w64-mingw32-objdump", "-h", exe]).splitlines():
        fields = line.split()
        if len(fields) >= 7 and fields[0].isdigit():
            lines.append("| %s | %d |" % (fields[1], int(fields[2], 16)))
    # The largest functions and data of the program's own code, before the
    # linker drops what nothing uses.
    symbols = []
    for library in args.libraries:
        for line in run(["i686-w64-mingw32-nm", "--size-sort", "-S", "-C", library]).splitlines():
            parts = line.split(None, 3)
            if len(parts) == 4 and parts[2] in "TDRB":
                symbols.append((int(parts[1], 16), parts[2], parts[3]))
    symbols.sort(reverse=True)
    lines += ["", "Largest pieces of the program's own code and data:", "",
              "| bytes | kind | name |", "|---|---|---|"]
    for size, kind, name in symbols[:12]:
        lines.append("| %d | %s | `%s` |" % (size, kind, name))
    return lines


def build_site(paths, work, installer_size):
    installer = os.path.join(work, "installer-%d.exe" % installer_size)
    with open(paths.installer, "rb") as f:
        program = f.read()
    with open(installer, "wb") as f:
        f.write(program + b"\0" * (installer_size - len(program)))
    conf = os.path.join(work, "site-%d.conf" % installer_size)
    with open(conf, "w") as f:
        f.write(site_config.render(installer, ["Benchmark run"]))
    site = os.path.join(work, "site-%d" % installer_size)
    run([paths.dlmtool, "site", "build", conf, site])
    return site


def peak_memory_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def whole_run(paths, work, installer_size, name):
    """One run of the program against a site with an installer of the given
    size: the server's time for the installer, and the peak memory."""
    site = build_site(paths, work, installer_size)
    nginx = h.Nginx(os.path.join(work, "nginx-" + name))
    nginx.start(site)
    driver = h.Driver(paths)
    try:
        program = h.ProgramRun(paths, os.path.join(work, "run-" + name))
        if not driver.wait(h.CHOOSER, h.START_SECONDS) or not driver.click(h.CHOOSER, h.IDOK):
            raise RuntimeError("the chooser did not open")
        peak = None
        while program.proc.poll() is None:
            peak = peak_memory_kib(program.proc.pid) or peak
            time.sleep(0.05)
        exe = [r for r in nginx.requests() if r[0].endswith(".exe")]
        if not exe or exe[-1][2] != installer_size:
            raise RuntimeError("the installer was not served whole: %r" % exe)
        url = "http://127.0.0.1:%d%s" % (h.SITE_PORT, exe[-1][0])
        started = time.monotonic()
        run(["curl", "-s", "-o", "/dev/null", url])
        curl_seconds = time.monotonic() - started
        return exe[-1][3], curl_seconds, peak
    finally:
        nginx.stop()


def pace_parts(args, site):
    """The pause and the read measured alone, against the same server."""
    nginx = h.Nginx(os.path.join(args.work, "nginx-pace"))
    nginx.start(site)
    try:
        return run([WINE_RUN, args.prefix, args.pace_bench,
                    "http://127.0.0.1:%d/dl/p_Vandel_sys_ENG.exe" % h.SITE_PORT],
                   env=h.wine_env(args)).strip()
    finally:
        nginx.stop()


def download_report(args, paths, work):
    size = args.download_mib * MIB
    seconds, curl_seconds, _ = whole_run(paths, work, size, "%dmib" % args.download_mib)
    parts = pace_parts(args, os.path.join(work, "site-%d" % size))
    pace = size / (size / READ_SIZE * PAUSE_SECONDS)
    rate = size / seconds
    curl_rate = size / curl_seconds
    return ["## Download", "",
            "A %d MiB installer from nginx on loopback (the server's time for the request)."
            % args.download_mib, "",
            "| client | seconds | MiB/s |", "|---|---|---|",
            "| polvex.exe under wine | %.2f | %.2f |" % (seconds, rate / MIB),
            "| curl | %.2f | %.2f |" % (curl_seconds, curl_rate / MIB),
            "| reads of 4096 bytes with a 1 ms pause, no other cost | %.2f | %.2f |"
            % (size / pace, pace / MIB),
            "", "polvex.exe reaches **%.0f%%** of the pace that its reads and pauses allow "
            "(goal: 90%%) and %.1f%% of curl." % (100 * rate / pace, 100 * rate / curl_rate),
            "", "The parts, measured alone under wine against the same server "
            "(`tests/bench/pace_bench.cpp`):", "", "```", parts, "```"]


def paint_report(args):
    out = run([WINE_RUN, args.prefix, args.paint_bench, str(args.messages)],
              env=h.wine_env(args))
    return ["## The dialog thread per progress message", "", "```", out.strip(), "```"]


def memory_report(args, paths, work):
    lines = ["## Memory of a whole run", "",
             "Peak resident memory of the wine process that runs polvex.exe (wine's own "
             "libraries included):", "", "| installer | peak resident KiB |", "|---|---|"]
    for mib in (1, args.large_mib):
        _, _, peak = whole_run(paths, work, mib * MIB, "%dmib" % mib)
        lines.append("| %d MiB | %s |" % (mib, peak))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--product", required=True, help="the 32-bit program, whose size is reported")
    parser.add_argument("--polvex", required=True, help="the program the runs start")
    parser.add_argument("--libraries", nargs="+", required=True)
    parser.add_argument("--paint-bench", required=True)
    parser.add_argument("--pace-bench", required=True)
    parser.add_argument("--wdrive", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--dlmtool", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--short", action="store_true",
                        help="small sizes and one short round: checks that every figure comes out")
    args = parser.parse_args()
    # The figures of docs/PERFORMANCE.md come from the full sizes.
    args.download_mib, args.large_mib, args.messages = (4, 4, 2000) if args.short else (32, 64, 20000)
    paths = h.Paths(args)
    os.makedirs(paths.work, exist_ok=True)
    h.own_wine_server(paths)
    lines = ["Machine: " + machine(), ""]
    lines += size_report(args) + [""]
    lines += download_report(args, paths, paths.work) + [""]
    lines += paint_report(args) + [""]
    lines += memory_report(args, paths, paths.work)
    print("\n".join(lines))
    missing = unfilled(lines)
    for line in missing:
        print("BENCH FAILED: a figure is missing: " + line, file=sys.stderr)
    return 1 if missing else 0


def unfilled(lines):
    """The report's table rows with an empty cell or no figure, and empty
    blocks of a benchmark's own output."""
    rows = [line for line in lines if line.startswith("|") and not line.startswith("|---")
            and any(cell.strip() in ("", "None") for cell in line.strip().strip("|").split("|"))]
    blocks = "\n".join(lines).split("```")[1::2]
    return rows + ["an empty block of output"] * sum(1 for b in blocks if not b.strip())


if __name__ == "__main__":
    sys.exit(main())
