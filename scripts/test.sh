#!/bin/bash
# The whole test suite: native unit tests (plain and under ASan/UBSan), the
# 32-bit program build and its checks, and the Windows-side tests under wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
# The suite sets every variable it relies on: a caller's wine settings
# (WINEARCH=win32 above all), locale or display must not leak into it.
unset WINEARCH WINEPREFIX WINEDLLOVERRIDES WINEDEBUG WINELOADER WINESERVER LC_ALL LANGUAGE DISPLAY \
  POLVEX_DEMO_EXE POLVEX_BENCH_EXE
export LANG=C.UTF-8
jobs=$(nproc)
build=${POLVEX_BUILD_DIR:-$root/build}
prefix=$build/wineprefix
# The two Windows builds' tests run side by side. Their scenarios all serve
# the program's site on 127.0.0.1:47800, so the 32-bit build's run in a
# network namespace of the suite's own, with wine prefixes of their own
# (a wine server opens its programs' sockets, in its own namespace): a
# 64-bit one for the 32-bit program as on 64-bit Windows and, where this
# machine runs 32-bit programs natively, a 32-bit one (its scenarios say
# why they skip elsewhere).
prefix_wow64=$build/wineprefix-wow64
prefix32=$build/wineprefix32
ns=polvex-suite-$$
failed=0

configure_and_build() {  # DIR ARGS...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_ctest() {  # DIR
  (cd "$1" && ctest --output-on-failure -j "$jobs") || failed=1
}

ip netns add "$ns"
ip -n "$ns" link set lo up
in_ns() { nsenter --net="/run/netns/$ns" "$@"; }
cleanup() {
  # Whatever is already gone, the suite's verdict stands.
  set +e
  kill ${xvfb_pids:-} 2>/dev/null
  for p in "$prefix" "$prefix_wow64" "$prefix32"; do
    WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null
  done
  ip netns delete "$ns" 2>/dev/null
  true
}
trap cleanup EXIT

# Make the wine prefixes while the native builds compile, each in the
# network its tests use.
{ cmake/wine-prefix.sh "$prefix"
  in_ns cmake/wine-prefix.sh "$prefix_wow64"
  if cmake/wine32-native.sh >/dev/null; then in_ns cmake/wine-prefix.sh "$prefix32" win32; fi
} &
prefix_job=$!

# The builds first; then the Windows-side tests, which mostly wait (for
# timeouts, paced servers, programs starting), run on two sides in the
# background while the native tests, the sanitizer build and the fuzz
# targets keep the processors busy.
configure_and_build "$build/native" -DPOLVEX_STATIC_CHECKS=ON
configure_and_build "$build/win32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DPOLVEX_WINE_PREFIX="$prefix_wow64" -DPOLVEX_WINE_PREFIX32="$prefix32" -DPOLVEX_STATIC_CHECKS=ON \
  -DPOLVEX_DLMTOOL="$build/native/tools/dlmtool" -DPOLVEX_E2E_HELPERS="$build/win64/tests/e2e"
configure_and_build "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
  -DPOLVEX_WINE_PREFIX="$prefix" -DPOLVEX_DLMTOOL="$build/native/tools/dlmtool"
wait $prefix_job
echo "== builds and wine prefixes ready after $SECONDS s"

# Windows with dialogs need a display: always ones of the suite's own, one
# for each side.
. scripts/own_display.sh
start_own_display 90
display64=$DISPLAY; xvfb_pids=$xvfb_pid
start_own_display 91
display32=$DISPLAY; xvfb_pids="$xvfb_pids $xvfb_pid"
unset DISPLAY

# The 32-bit side, in its namespace.
log32=$build/win32-tests.log
DISPLAY=$display32 in_ns bash -c 'cd "$1" && ctest --output-on-failure -j "$2"' \
  - "$build/win32" "$jobs" >"$log32" 2>&1 &
side32=$!

# The 64-bit side, then the README's own commands as a newcomer runs them on
# a machine without a display: the demo, plain and over HTTPS, and the
# benchmarks in their short round (the report with every figure in it; the
# figures themselves belong in docs/PERFORMANCE.md), in the same prefix.
readme_command() {  # COMMAND [BITS]: fails unless COMMAND passes and, given
  # BITS, said that it runs the BITS-bit build of the program
  local started=$SECONDS out=$build/readme-command.log status=0
  echo "== $1"
  bash -o pipefail -c "$1 2>&1 | tee '$out'" || { echo "FAIL $1"; status=1; }
  if [ -n "${2:-}" ] && ! grep -q ": runs the $2-bit build" "$out"; then
    echo "FAIL $1: it did not say that it runs the $2-bit build"; status=1
  fi
  echo "== $1: $(( SECONDS - started )) s"
  return $status
}
side64() {
  local status=0 bits=32 rc=0
  (cd "$build/win64" && DISPLAY=$display64 ctest --output-on-failure -j "$jobs") || status=1
  # The demo and the benchmarks run the 32-bit product where 32-bit programs
  # run natively and the 64-bit build where they are emulated, by themselves;
  # where they run natively the demo runs once more as if emulated.
  cmake/wine32-native.sh >/dev/null || bits=64
  readme_command "bash scripts/demo.sh" $bits || status=1
  readme_command "bash scripts/demo.sh --https" $bits || status=1
  readme_command "bash scripts/bench.sh --short" $bits || status=1
  if [ $bits = 32 ]; then
    tests/e2e/as_emulated.sh true >/dev/null || rc=$?
    if [ $rc = 77 ]; then
      echo "== the demo as if emulated: SKIPPED (no binfmt_misc of its own in a user namespace)"
    else
      readme_command "tests/e2e/as_emulated.sh bash scripts/demo.sh" 64 || status=1
    fi
  fi
  return $status
}
log64=$build/win64-tests.log
side64 >"$log64" 2>&1 &
side64_job=$!

run_ctest "$build/native"
configure_and_build "$build/native-san" -DPOLVEX_SANITIZE=ON
run_ctest "$build/native-san"
# The fuzz targets, a few seconds each, so that they keep building and
# running (scripts/fuzz.sh runs them long).
CC=clang CXX=clang++ cmake -S "$root" -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPOLVEX_FUZZ=ON -DPOLVEX_FUZZ_TEST_SECONDS=5 >/dev/null
cmake --build "$build/fuzz" -j "$jobs" --target fuzz_targets
(cd "$build/fuzz" && ctest --output-on-failure -j "$jobs" -L fuzz) || failed=1
echo "== native tests done after $SECONDS s"

wait $side64_job || failed=1
echo "== the 64-bit side (ended after $SECONDS s at the latest)"
cat "$log64"
wait $side32 || failed=1
echo "== the 32-bit side (ended after $SECONDS s at the latest)"
cat "$log32"

if [ $failed -ne 0 ]; then
  echo "SOME TESTS FAILED"
  exit 1
fi
echo "all test suites passed"
