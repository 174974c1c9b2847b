#!/bin/bash
# Makes a wine prefix once: boots it, copies wine's fonts so that dialogs
# draw properly, and starts a wine server that outlives single programs.
# Usage: wine-prefix.sh PREFIX [win32|win64]
# A new prefix is 64-bit unless win32 is asked for; a made one keeps the
# architecture it was made with, whatever the caller's wine settings say.
set -u
mkdir -p "$(dirname "$1")"
# Wine takes absolute prefix paths only.
prefix=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec 9>"$prefix.lock"
flock 9
arch=${2:-}
if [ -f "$prefix/.ready" ]; then
  arch=$(sed -n 's/^#arch=//p' "$prefix/system.reg")
fi
case ${arch:-win64} in
  win32) export WINEARCH=win32; loader=/usr/lib/wine/wine ;;
  win64) export WINEARCH=win64; loader=/usr/lib/wine/wine64 ;;
  *) echo "wine-prefix.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
if [ ! -f "$prefix/.ready" ]; then
  rm -rf "$prefix"
  $loader wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null
  # Windows left unmanaged: under Xvfb no window manager runs, and wine
  # would wait two seconds for one each time a window is hidden. (The demo
  # on a person's desktop asks for managed windows again.)
  $loader reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  touch "$prefix/.ready"
fi
# Keep one server, with wine's own service processes, running for the
# prefix, started here with their output away from the caller's pipes:
# whichever program starts them hands them its stderr, and a test that
# captures output would wait for them. "wineserver -k" ends it.
server_dir=server-$(printf '%x' "$(stat -c %d "$prefix")")-$(printf '%x' "$(stat -c %i "$prefix")")
for pid in $(pgrep -x wineserver64) $(pgrep -x wineserver); do
  case "$(readlink "/proc/$pid/cwd")" in */"$server_dir") exit 0 ;; esac
done
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 9>&-
$loader cmd /c exit </dev/null >/dev/null 2>&1 9>&-
exit 0
