#!/bin/bash
# The benchmarks: size, download pace, the dialog thread's cost per progress
# message and the memory of whole runs. Prints a Markdown report.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh >&2
build=${POLVEX_BUILD_DIR:-$root/build}
jobs=$(nproc)
prefix=$build/wineprefix
cmake/wine-prefix.sh "$prefix" >&2
{
  cmake -S . -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build/native" -j "$jobs" --target dlmtool
  cmake -S . -B "$build/win32" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DPOLVEX_WINE_PREFIX="$prefix"
  cmake --build "$build/win32" -j "$jobs" --target polvex paint_bench pace_bench
  cmake -S . -B "$build/win64" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DPOLVEX_WINE_PREFIX="$prefix"
  cmake --build "$build/win64" -j "$jobs" --target wdrive demo_installer
} >&2
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:$(( 150 + RANDOM % 50 ))
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
  sleep 1
fi
python3 scripts/bench.py --polvex "$build/win32/win/polvex.exe" \
  --libraries "$build/win32/win/libpolvex_win.a" "$build/win32/core/libpolvex_core.a" \
  --paint-bench "$build/win32/tests/bench/paint_bench.exe" \
  --pace-bench "$build/win32/tests/bench/pace_bench.exe" --wine-run "$build/win32/wine-run" \
  --wdrive "$build/win64/tests/e2e/wdrive.exe" \
  --installer "$build/win64/tests/e2e/demo_installer.exe" \
  --dlmtool "$build/native/tools/dlmtool" --prefix "$prefix" --work "$build/bench"
