#!/bin/bash
# Runs COMMAND as on a machine that emulates 32-bit programs: in a user and
# mount namespace whose own binfmt_misc (each user namespace may have one,
# Linux 6.7 on) hands 32-bit x86 programs to qemu, as scripts/deps.sh does
# on kernels that refuse them. Exits 77 (skipped) where it cannot.
# Usage: as_emulated.sh COMMAND [ARGS...]
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
exec unshare --user --map-root-user --mount --fork bash -c '
  binfmt=/proc/sys/fs/binfmt_misc
  if ! { mount -t binfmt_misc binfmt_misc $binfmt &&
         tr -d "\n" < "$0/scripts/qemu-i386.binfmt" > $binfmt/register; } 2>/dev/null; then
    echo "SKIPPED: no binfmt_misc of its own in a user namespace here"
    exit 77
  fi
  exec "$@"' "$root" "$@"
