#!/usr/bin/env python3
"""Whole-program runs of polvex.exe under wine against a download site built
with `dlmtool site build` and served by nginx on 127.0.0.1:47800.

Each scenario checks what a user sees (the status box text byte for byte,
the OK button), the files in its scratch folder, the registry and the exit
code. Run one scenario with --scenario NAME, or all of them. The last line
reads "N passed, M failed"."""
import argparse
import importlib
import os
import pkgutil
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import harness as h  # noqa: E402
import scenarios  # noqa: E402
from scenarios.common import Context, Failure  # noqa: E402


def find_scenarios():
    """Every scenario_NAME function of the modules of scenarios/ but the
    shared one, as NAME -> function. A name twice is a fault."""
    found = {}
    for module in pkgutil.iter_modules(scenarios.__path__):
        if module.name == "common":
            continue
        for name, scenario in vars(importlib.import_module("scenarios." + module.name)).items():
            if not name.startswith("scenario_"):
                continue
            if name[len("scenario_"):] in found:
                raise RuntimeError("scenario %s is named twice (%s)" % (name, module.name))
            found[name[len("scenario_"):]] = scenario
    return found


SCENARIOS = find_scenarios()


# The exit code of a run skipped as a whole (CTest's SKIP_RETURN_CODE).
SKIPPED = 77



def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--polvex", required=True)
    parser.add_argument("--wdrive", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--swapper")
    parser.add_argument("--version-dll")
    parser.add_argument("--trust-root", help="the helper that trusts a test root in the prefix")
    parser.add_argument("--planted-dll")
    parser.add_argument("--dlmtool", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--arch", choices=("win32", "win64"), default="win64",
                        help="the architecture of the prefix, made with it if new")
    parser.add_argument("--work", required=True)
    parser.add_argument("--screenshots")
    parser.add_argument("--scenario", action="append")
    parser.add_argument("--signer-polvex", help="the program built with DLM_INSTALLER_SIGNER")
    parser.add_argument("--signer", help="that build's DLM_INSTALLER_SIGNER")
    parser.add_argument("--issuer", help="that build's DLM_INSTALLER_ISSUER")
    args = parser.parse_args()
    paths = h.Paths(args)
    cmake_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake")
    if h.wine_loader(paths.polvex).endswith("/wine"):
        # The 32-bit program, in either prefix, runs where 32-bit programs run
        # natively. Emulated, each 32-bit process takes a minute or more to
        # start, and 32-bit wine dies in the middle of whole runs: qemu's user
        # mode keeps one descriptor table for all of a process's threads, so
        # when a thread starts or exits (WinInet's connection collector, say)
        # another can run on its thread block. Seen as exit code 29
        # (STATUS_ILLEGAL_INSTRUCTION), 40 (STATUS_BAD_STACK), 1, or a signal
        # (-11): the emulator's limit, which says nothing of the program.
        proc = subprocess.run([os.path.join(cmake_dir, "wine32-native.sh")],
                              capture_output=True, text=True)
        if proc.returncode != 0:
            print("SKIPPED: %s" % proc.stdout.strip())
            return SKIPPED
    subprocess.run([os.path.join(cmake_dir, "wine-prefix.sh"), paths.prefix, args.arch], check=True)
    if h.prefix_arch(paths.prefix) != args.arch:
        print("FAIL: %s is a %s prefix, not %s" % (paths.prefix, h.prefix_arch(paths.prefix), args.arch))
        return 1
    names = args.scenario or list(SCENARIOS)
    passed = failed = 0
    for name in names:
        ctx = Context(paths, name)
        started = time.time()
        try:
            SCENARIOS[name](ctx)
            passed += 1
            print("PASS %s (%.0f s)" % (name, time.time() - started))
        except Exception as e:  # a failed check or a broken run
            failed += 1
            print("FAIL %s: %s" % (name, e))
            if not isinstance(e, Failure):
                traceback.print_exc()
        finally:
            ctx.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0



if __name__ == "__main__":
    sys.exit(main())
