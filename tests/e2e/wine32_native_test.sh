#!/bin/bash
# wine32-native.sh against made-up binfmt_misc folders: an enabled handler
# whose magic is a 32-bit x86 ELF header means emulation, whatever the
# kernel can do; any other handler changes nothing.
set -u
check=$(dirname "$0")/../../cmake/wine32-native.sh
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
entry() {  # NAME STATE MAGIC
  mkdir -p "$dir/$1"
  printf '%s\ninterpreter /usr/bin/%s-static\nflags: F\noffset 0\nmagic %s\n' "$2" "$1" "$3" \
    > "$dir/$1/$1"
}
i386=7f454c4601010100000000000000000002000300
i386_exec=7f454c4601010100000000000000000003000300
aarch64=7f454c460201010000000000000000000200b700
arm=7f454c4601010100000000000000000002002800
entry qemu-i386 enabled $i386
entry qemu-i386-pie enabled $i386_exec
entry qemu-i386-off disabled $i386
entry qemu-aarch64 enabled $aarch64
entry qemu-arm enabled $arm
mkdir -p "$dir/none"
"$check" "$dir/none" >/dev/null; plain=$?
# folder, expected exit code (-1: as without any handler), expected words
while read -r folder code words; do
  out=$("$check" "$dir/$folder"); got=$?
  [ "$code" = -1 ] && code=$plain
  if [ "$got" != "$code" ] || [[ "$out" != *"$words"* ]]; then
    echo "FAIL $folder: exit $got, printed '$out'"; failed=1
  fi
done <<TABLE
qemu-i386 1 /usr/bin/qemu-i386-static
qemu-i386-pie 1 /usr/bin/qemu-i386-pie-static
qemu-i386-off -1
qemu-aarch64 -1
qemu-arm -1
TABLE
[ $failed = 0 ] && echo "wine32-native.sh: all cases passed"
exit $failed
