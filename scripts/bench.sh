#!/bin/bash
# The benchmarks: size, download pace, the dialog thread's cost per progress
# message and the memory of whole runs. Prints a Markdown report.
set -eu
short=
case "${1:-}" in
  --short) short=--short ;;  # a few MiB and one short round: every figure comes out
  "") ;;
  *) echo "usage: scripts/bench.sh [--short]" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh >&2
# The runs are of the 32-bit product, or where 32-bit programs are emulated
# of the 64-bit build of the same code (scripts/windows_build.sh says why);
# POLVEX_BENCH_EXE=win32 or win64 chooses. The size is always the product's.
. scripts/windows_build.sh
windows_build POLVEX_BENCH_EXE bench
build=${POLVEX_BUILD_DIR:-$root/build}
jobs=$(nproc)
prefix=$build/wineprefix
cmake/wine-prefix.sh "$prefix" >&2
{
  # A build tree made before (by the test suite, say) is built as it is:
  # its settings are its maker's, and it may be in use.
  configure() {  # DIR ARGS...
    [ -f "$1/CMakeCache.txt" ] || cmake -S . -B "$@" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  }
  configure "$build/native"
  cmake --build "$build/native" -j "$jobs" --target dlmtool
  configure "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
  cmake --build "$build/win32" -j "$jobs" --target polvex paint_bench pace_bench
  configure "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
  cmake --build "$build/win64" -j "$jobs" --target polvex paint_bench pace_bench wdrive demo_installer
} >&2
if [ -z "${DISPLAY:-}" ]; then
  . scripts/own_display.sh
  start_own_display 170
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
fi
python3 scripts/bench.py $short --product "$build/win32/win/polvex.exe" \
  --libraries "$build/win32/win/libpolvex_win.a" "$build/win32/core/libpolvex_core.a" \
  --polvex "$build/$arch/win/polvex.exe" \
  --paint-bench "$build/$arch/tests/bench/paint_bench.exe" \
  --pace-bench "$build/$arch/tests/bench/pace_bench.exe" \
  --wdrive "$build/win64/tests/e2e/wdrive.exe" \
  --installer "$build/win64/tests/e2e/demo_installer.exe" \
  --dlmtool "$build/native/tools/dlmtool" --prefix "$prefix" --work "$build/bench"
