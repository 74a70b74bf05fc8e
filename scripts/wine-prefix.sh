#!/usr/bin/env bash
# Makes the project's own Wine prefix (build/wine) once, able to run 32-bit and 64-bit programs;
# later calls return at once. Safe to call from several tests at the same time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${K5_WINEPREFIX:-$here/../build/wine}
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and offering to install them stalls a fresh prefix.
export WINEDLLOVERRIDES=mscoree,mshtml=
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.k5-ready" ]; then
  rm -rf "$WINEPREFIX"
  WINEARCH=win64 timeout 600 /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  timeout 120 /usr/lib/wine/wineserver -w || true
  for dll in system32/kernel32.dll syswow64/kernel32.dll; do
    [ -f "$WINEPREFIX/drive_c/windows/$dll" ] || { echo "wineboot did not make $WINEPREFIX ($dll missing)"; exit 1; }
  done
  touch "$WINEPREFIX/.k5-ready"
fi
