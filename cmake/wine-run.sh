#!/bin/bash
# Runs a Windows program under wine in the given prefix, making the prefix
# once (a lock and a ready marker keep parallel tests safe).
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -u
prefix=$1
shift
export WINEPREFIX="$prefix"
# The prefix exists already with its own architecture.
unset WINEARCH
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh" "$prefix" || exit 1

# Pick the loader by the program's machine type: the 64-bit loader runs
# natively here, the 32-bit one only through emulation. Wine's own programs
# (reg, cmd) are the prefix's: the 32-bit loader would start first for them
# in a 64-bit prefix, a minute or more where it is emulated.
loader=/usr/lib/wine/wine
grep -qx '#arch=win64' "$prefix/system.reg" && loader=/usr/lib/wine/wine64
case "$1" in
  *.exe|*.EXE)
    machine=$(od -An -tx1 -j "$(( $(od -An -tu4 -j 60 -N 4 "$1") + 4 ))" -N 2 "$1" | tr -d ' ')
    loader=/usr/lib/wine/wine
    [ "$machine" = "6486" ] && loader=/usr/lib/wine/wine64
    ;;
esac
exec "$loader" "$@"
