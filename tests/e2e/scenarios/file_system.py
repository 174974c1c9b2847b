"""The file system and the desktop: a full or read-only download folder,
another program trying to swap the installer, folders named outside the
code page, and libraries planted beside the program."""
import contextlib
import os
import shutil
import subprocess
import time

import harness as h
from scenarios.common import (big_installer, check, check_wrote_at_most_installer, Failure,
                              installer_path, run_to_error, stamp)


def scenario_folders_outside_code_page(ctx):
    """A user whose folders are named in Cyrillic on a Western system (code
    page 1252): a stamped copy kept and run in "Загрузки" records its
    trailer's tag, starts the installer there, and retires a previous
    installation in "Программы"."""
    d = ctx.driver
    site = ctx.build_site()
    ctx.serve(site)
    stamped = stamp(ctx, "E2E1", "ru")
    old = os.path.join(ctx.root, "Программы", "Полвекс")
    os.makedirs(old)
    command = '"Z:%s\\uninst.exe" /S' % old.replace("/", "\\")
    # Stored through wine's own reg.exe, which takes its arguments in wide
    # characters (the window driver's are ANSI).
    reg = subprocess.run([h.wine_loader(ctx.paths.wdrive), "reg", "add",
                          "HKLM\\" + ctx.uninstall_key, "/v", "UninstallString", "/d", command,
                          "/f"], env=h.wine_env(ctx.paths), capture_output=True, timeout=60)
    check(reg.returncode == 0, "registry not writable: %r" % reg.stderr)
    d.reg_delete(ctx.tag_key)
    german = {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"}
    run = ctx.start(exe_path=stamped, env=german, scratch=os.path.join(ctx.root, "Загрузки"),
                    exe_dir=os.path.join(ctx.root, "Программы"))
    ctx.choose()
    ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "DEU"))
    check(d.reg_get(ctx.tag_key) == "E2E1_ru", "tag key holds %r" % d.reg_get(ctx.tag_key))
    check(os.path.isdir(old + ".old") and not os.path.exists(old), "Полвекс not renamed .old")
    d.reg_delete(ctx.uninstall_key)


# System libraries that are not known DLLs, so that Windows would look for
# them in the program's folder first if it imported them by name.
PLANTED_NAMES = ("version", "winmm", "wininet", "wintrust", "crypt32")
# Wine's own user32.dll imports version.dll by name: told to give native
# libraries first, wine loads a planted version.dll into every program at
# its start, before any of the program's code runs (Windows' user32.dll
# does not import it). There only calls of its functions count.
LOADED_BY_WINE = ("version.dll",)


def scenario_planted_libraries(ctx):
    """Libraries named as system libraries, dropped beside the program and
    into the folder it runs in, with wine told to search for those names
    as Windows does (wine prefers its built-in copies otherwise): a whole
    run succeeds, and the program loads none of them (but the one wine
    loads for it) and calls none of their functions."""
    if not ctx.paths.planted_dll:
        raise Failure("no planted library given")
    site = ctx.build_site()
    ctx.serve(site)
    scratch = os.path.join(ctx.root, "Downloads")
    exe_dir = os.path.join(ctx.root, "program")
    for folder in (exe_dir, scratch):
        os.makedirs(folder)
        for name in PLANTED_NAMES:
            shutil.copyfile(ctx.paths.planted_dll, os.path.join(folder, name + ".dll"))
    native_first = "mscoree,mshtml=;%s=n,b" % ",".join(PLANTED_NAMES)
    run = ctx.start(env={"WINEDLLOVERRIDES": native_first}, scratch=scratch, exe_dir=exe_dir)
    try:
        ctx.choose()
        ctx.expect_success(run, installer_path(ctx, site, "p_Vandel_sys_", "ENG"))
        failed_run = None
    except Failure as e:  # told after what the program took, which may be why
        failed_run = e
    # What the program did with them (the demo installer, run from the
    # same folder, is a fixture). A library records under the name it was
    # loaded by (WININET.dll for an import so spelt), which Linux tells
    # from wininet.dll.
    taken = []
    for record in sorted(os.path.join(folder, name) for folder in (exe_dir, scratch)
                         for name in os.listdir(folder) if name.lower().endswith(".dll.loaded")):
        dll = os.path.basename(record)[:-len(".loaded")].lower()
        with open(record, encoding="latin-1") as f:
            lines = [line for line in f.read().splitlines()
                     if line.lower().split("\\")[-1].startswith("polvex.exe")]
        taken += ["%s: %s" % (os.path.relpath(record, ctx.root), line) for line in lines
                  if " called " in line or dll not in LOADED_BY_WINE]
    check(not taken, "the program took planted libraries: %r" % taken)
    if failed_run:
        raise failed_run


@contextlib.contextmanager
def tmpfs(path, options):
    """A small tmpfs as a scratch folder, for the body of a with statement."""
    os.makedirs(path, exist_ok=True)
    proc = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise Failure("cannot mount a tmpfs here (root needed): " + proc.stderr.strip())
    try:
        yield path
    finally:
        subprocess.run(["umount", "-l", path], capture_output=True)


def scenario_fault_full_disk(ctx):
    big = os.path.join(ctx.root, "big-installer.exe")
    with open(big, "wb") as f:
        f.write(b"M" * (1024 * 1024))
    site = ctx.build_site(installer=big)
    ctx.serve(site)
    with tmpfs(os.path.join(ctx.root, "full"), "size=256k") as scratch:
        run = run_to_error(ctx, h.TEXT_NETWORK, scratch=scratch)
        size = os.path.getsize(run.file("pinstall.exe"))
        check(0 < size < 1024 * 1024, "partial file of %d bytes" % size)
        check_wrote_at_most_installer(run)


def scenario_fault_read_only(ctx):
    site = ctx.build_site()
    ctx.serve(site)
    with tmpfs(os.path.join(ctx.root, "read-only"), "ro,size=64k") as scratch:
        run_to_error(ctx, h.TEXT_NETWORK, scratch=scratch)
        check(os.listdir(scratch) == [], "wrote %r" % os.listdir(scratch))
        check(not any(p.endswith(".exe") for p in ctx.asked()), "the installer was asked for")


# The pace of the program that tries to replace the installer: a watcher's
# realistic one, a few hundred tries in a download of a few seconds.
SWAP_INTERVAL_MS = 20


def swap_attempts(log):
    """The swapper's attempts: (milliseconds, kind, got it, error, size,
    whether the installer had started right after)."""
    with open(log) as f:
        return [(int(ms), kind, result == "ok", int(error), int(size), started == "1")
                for ms, kind, result, error, size, started
                in (line.split() for line in f if line.strip())]


def scenario_no_swap(ctx):
    # Another program in the download folder keeps trying to write, rename
    # or delete pinstall.exe, and puts its own program there when it can,
    # until the installer has started.
    if not ctx.paths.swapper:
        raise Failure("no swapper program given (--swapper)")
    d = ctx.driver
    big = big_installer(ctx)
    site = ctx.build_site(installer=big)
    ctx.serve(site, rate_limited="200k")
    scratch = os.path.join(ctx.root, "run")
    os.makedirs(scratch)
    stop = os.path.join(ctx.root, "stop-swapping")
    log = os.path.join(ctx.root, "swapper.log")
    with open(log, "w") as out:
        swapper = subprocess.Popen(
            [h.wine_loader(ctx.paths.swapper), ctx.paths.swapper, "pinstall.exe",
             "Z:" + stop.replace("/", "\\"), str(SWAP_INTERVAL_MS)],
            cwd=scratch, env=h.wine_env(ctx.paths), stdout=out, stderr=subprocess.DEVNULL)
    try:
        for _ in range(300):
            if os.path.getsize(log) > 0:
                break
            time.sleep(0.1)
        check(os.path.getsize(log) > 0, "the swapper did not start")
        run = ctx.start(scratch=scratch)
        ctx.choose()
        # Until the program ends, or shows an error and waits for OK.
        deadline = time.time() + 120
        while run.running() and time.time() < deadline:
            if d.text(h.WINDOW, h.IDC_STATUS) in (h.TEXT_NETWORK, h.TEXT_LAUNCH):
                break
            time.sleep(0.5)
    finally:
        open(stop, "w").close()
        swapper.wait(timeout=60)
    attempts = swap_attempts(log)
    before = [a for a in attempts if not a[5]]
    held = [a for a in before if a[4] >= 0 and not a[2]]
    got = [a for a in before if a[2]]
    print("the swapper tried %d times before the installer started, %d of them refused on "
          "an existing pinstall.exe, %d got it; %d tries after" % (
              len(before), len(held), len(got), len(attempts) - len(before)))
    check(len(held) >= 50, "too few tries while the file was there: %d" % len(held))
    check(not os.path.exists(run.file("intruder-ran.txt")), "the swapped-in program ran")
    if got:
        # A writer can open the file only between the close of the
        # program's writer and its hold, when the file has its full size;
        # the program then fails the download rather than start it.
        check(all(a[1] == "write" and a[4] == os.path.getsize(big) for a in got),
              "the swapper got the file during the download: %r" % got)
        print("the swapper opened the file in the instant between the writer and the hold")
        ctx.expect_error(run, h.TEXT_NETWORK)
        return
    # Once it runs, the installer's file may be renamed, as on Windows (its
    # image denies writing and deletion only): that is past the hold, and
    # the served installer is then found under the new name.
    print("after the start the swapper got: %r" % sorted({a[1] for a in attempts if a[2]}))
    renamed = os.path.exists(run.file("pinstall.exe.moved"))
    ctx.expect_success(run, big, file_name="pinstall.exe.moved" if renamed else "pinstall.exe")
