#!/bin/bash
# The whole test suite: native unit tests (plain and under ASan/UBSan), the
# 32-bit program build and its checks, and the Windows-side tests under wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
# The suite sets every variable it relies on: a caller's wine settings
# (WINEARCH=win32 above all), locale or display must not leak into it.
unset WINEARCH WINEPREFIX WINEDLLOVERRIDES WINEDEBUG WINELOADER WINESERVER LC_ALL LANGUAGE DISPLAY
export LANG=C.UTF-8
jobs=$(nproc)
build=${POLVEX_BUILD_DIR:-$root/build}
prefix=$build/wineprefix
# The 32-bit program's scenarios run in a 32-bit prefix too, where this
# machine runs 32-bit programs natively (they say why they skip elsewhere).
prefix32=$build/wineprefix32
failed=0

configure_and_build() {  # DIR ARGS...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_ctest() {  # DIR
  (cd "$1" && ctest --output-on-failure -j "$jobs") || failed=1
}

# Make the wine prefixes while the native builds compile.
{ cmake/wine-prefix.sh "$prefix"
  if cmake/wine32-native.sh >/dev/null; then cmake/wine-prefix.sh "$prefix32" win32; fi
} &
prefix_job=$!

configure_and_build "$build/native" -DPOLVEX_STATIC_CHECKS=ON
run_ctest "$build/native"
configure_and_build "$build/native-san" -DPOLVEX_SANITIZE=ON
run_ctest "$build/native-san"

# The fuzz targets, a few seconds each, so that they keep building and
# running (scripts/fuzz.sh runs them long).
CC=clang CXX=clang++ cmake -S "$root" -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPOLVEX_FUZZ=ON -DPOLVEX_FUZZ_TEST_SECONDS=5 >/dev/null
cmake --build "$build/fuzz" -j "$jobs" --target fuzz_targets
(cd "$build/fuzz" && ctest --output-on-failure -j "$jobs" -L fuzz) || failed=1

configure_and_build "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DPOLVEX_WINE_PREFIX="$prefix" -DPOLVEX_WINE_PREFIX32="$prefix32" -DPOLVEX_STATIC_CHECKS=ON \
  -DPOLVEX_DLMTOOL="$build/native/tools/dlmtool" -DPOLVEX_E2E_HELPERS="$build/win64/tests/e2e"
configure_and_build "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DPOLVEX_WINE_PREFIX="$prefix" -DPOLVEX_DLMTOOL="$build/native/tools/dlmtool"
wait $prefix_job

# Windows with dialogs need a display: always one of the suite's own.
for n in $(seq 90 120); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; for p in "$prefix" "$prefix32"; do WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null; done; true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

run_ctest "$build/win32"
run_ctest "$build/win64"

if [ $failed -ne 0 ]; then
  echo "SOME TESTS FAILED"
  exit 1
fi
echo "all test suites passed"
