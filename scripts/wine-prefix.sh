#!/usr/bin/env bash
# Makes the project's own Wine prefix (build/wine) once; later calls return at once. Safe to call
# from several tests at the same time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${K5_WINEPREFIX:-$here/../build/wine}
export WINEDEBUG=-all
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.k5-ready" ]; then
  mkdir -p "$WINEPREFIX"
  timeout 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  timeout 60 /usr/lib/wine/wineserver -w || true
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot did not make $WINEPREFIX"; exit 1; }
  touch "$WINEPREFIX/.k5-ready"
fi
