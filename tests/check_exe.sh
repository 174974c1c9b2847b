#!/bin/bash
# Checks that the program is a 32-bit GUI executable that needs nothing but
# Windows' own DLLs and msvcrt.dll beside it, and that it imports only known
# DLLs, which Windows always takes from the system folder: a library
# imported by any other name would be looked for beside the program first.
# Usage: check_exe.sh EXE.
# (WinInet, version.dll, winmm and the like are loaded from the system
# folder at run time.)
set -u
exe=$1
shift
fail=0
desc=$(file -b "$exe")
echo "$desc"
case "$desc" in
  *"PE32 executable (GUI) Intel 80386"*) ;;
  *) echo "not a PE32 GUI Intel 80386 executable"; fail=1 ;;
esac
allowed='^(kernel32|user32|gdi32|advapi32|shell32|msvcrt)\.dll$'
for dll in $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
  echo "imports $dll"
  echo "$dll" | grep -qE "$allowed" || { echo "unexpected import: $dll"; fail=1; }
done
size=$(stat -c %s "$exe")
echo "size $size bytes"
[ "$size" -le 32768 ] || { echo "larger than 32768 bytes"; fail=1; }
[ $fail -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
