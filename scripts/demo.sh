#!/bin/bash
# The main job: builds everything, builds the demo download site, serves it
# on 127.0.0.1:47800 and runs polvex.exe under wine against it. With a
# display you use the windows yourself; without one it runs under Xvfb,
# drives itself and saves screenshots.
# It runs the 32-bit product, or where 32-bit programs are emulated the
# 64-bit build of the same code (scripts/windows_build.sh says why);
# POLVEX_DEMO_EXE=win32 or win64 chooses.
# scripts/demo.sh --https runs the same demo over HTTPS: a build of the
# program whose bootstrap URLs are https, and a test root trusted only in
# the demo's wine prefix.
set -eu
https=
case "${1:-}" in
  --https) https=1 ;;
  "") ;;
  *) echo "usage: scripts/demo.sh [--https]" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
. scripts/windows_build.sh
windows_build POLVEX_DEMO_EXE demo
build=${POLVEX_BUILD_DIR:-$root/build}
jobs=$(nproc)
prefix=$build/wineprefix
cmake/wine-prefix.sh "$prefix" &
prefix_job=$!
# A build tree made before (by the test suite, say) is built as it is: its
# settings are its maker's, and it may be in use.
configure() {  # DIR ARGS...
  [ -f "$1/CMakeCache.txt" ] || cmake -S . -B "$@" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}
configure "$build/native"
cmake --build "$build/native" -j "$jobs" --target dlmtool
for tree in win32 win64; do
  toolchain=cmake/mingw-i686.cmake; [ $tree = win64 ] && toolchain=cmake/mingw-x86_64.cmake
  configure "$build/$tree" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain"
done
cmake --build "$build/win32" -j "$jobs" --target polvex
cmake --build "$build/win64" -j "$jobs" --target polvex wdrive demo_installer
exe=$build/$arch/win/polvex.exe
https_args=()
if [ -n "$https" ]; then
  # The vendor's way to https bootstrap URLs: build settings of a build of
  # its own. The test root is trusted by a helper of the program's
  # architecture, in the registry view that the program reads.
  toolchain=cmake/mingw-i686.cmake; [ "$arch" = win64 ] && toolchain=cmake/mingw-x86_64.cmake
  configure "$build/$arch-https" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" \
    -DDLM_BOOTSTRAP_URL_1=https://127.0.0.1:47800/dlm/primary.txt \
    -DDLM_BOOTSTRAP_URL_2=https://localhost:47800/dlm/alt1.txt
  cmake --build "$build/$arch-https" -j "$jobs" --target polvex trust_root
  exe=$build/$arch-https/win/polvex.exe
  https_args=(--https --trust-root "$build/$arch-https/tests/wine/trust_root.exe")
fi
wait $prefix_job

headless=
if [ -z "${DISPLAY:-}" ]; then
  headless=--headless
  . scripts/own_display.sh
  start_own_display 130
  trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
fi
python3 scripts/demo.py $headless "${https_args[@]}" --polvex "$exe" \
  --wdrive "$build/win64/tests/e2e/wdrive.exe" \
  --installer "$build/win64/tests/e2e/demo_installer.exe" \
  --dlmtool "$build/native/tools/dlmtool" --prefix "$prefix" --work "$build/demo"
