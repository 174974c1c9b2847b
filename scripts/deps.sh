#!/bin/bash
# Installs what the builds and tests need, only what is missing (Debian 12,
# as root), and lets this machine run 32-bit programs.
set -eu

packages=(
  cmake make g++ libgtest-dev clang libclang-rt-14-dev libcurl4-openssl-dev libssl-dev curl clang-tidy cppcheck
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine32:i386 wine64 fonts-wine qemu-user-static
  xvfb xauth x11-utils imagemagick locales nginx tinyproxy
  openssl osslsigncode faketime iproute2 help2man
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt_updated=
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails one index or another; the install
  # below then works from the lists that did arrive, and fails loudly
  # itself if a package cannot be had.
  apt-get update -q || apt-get update -q || echo "deps: package lists incomplete, trying the install anyway" >&2
  if ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # Without one architecture's security index the two architectures'
    # candidates differ, and the i386 libraries cannot match the amd64 ones:
    # prefer the main release's versions, which both architectures have.
    apt-get install -y -q --no-install-recommends -t bookworm "${missing[@]}"
  fi
fi

# The German runs need their locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# Some kernels (this workplace's among them) refuse 32-bit x86 programs.
# The 32-bit wine loader then runs through qemu's user-mode emulation.
if ! /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  binfmt=/proc/sys/fs/binfmt_misc
  [ -f $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
  if [ ! -e $binfmt/qemu-i386 ]; then
    # The kernel reads the escapes itself; one line, without its newline.
    tr -d '\n' < "$(dirname "$0")/qemu-i386.binfmt" > $binfmt/register
  fi
  /usr/lib/wine/wineserver32 --version >/dev/null
fi
