#!/bin/bash
# Exits 0 when this machine runs 32-bit x86 programs natively, so that 32-bit
# wine starts as fast as 64-bit wine; otherwise prints why not and exits 1.
# Usage: wine32-native.sh [BINFMT_MISC_DIR]   (/proc/sys/fs/binfmt_misc)
set -u
binfmt=${1:-/proc/sys/fs/binfmt_misc}
# A binfmt_misc handler for 32-bit x86 programs (deps.sh registers qemu's on
# kernels that refuse them) is tried before the kernel's own loader: every
# 32-bit process then runs emulated, whatever the kernel could do.
for entry in "$binfmt"/*; do
  [ -f "$entry" ] || continue
  if grep -qx enabled "$entry" 2>/dev/null && grep -Eq '^magic 7f454c4601.{26}0300' "$entry"; then
    echo "32-bit programs run emulated here (binfmt_misc handler $(basename "$entry"):" \
         "$(sed -n 's/^interpreter //p' "$entry"))"
    exit 1
  fi
done
if ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  echo "this kernel does not run 32-bit programs (/usr/lib/wine/wineserver32 does not start)"
  exit 1
fi
exit 0
