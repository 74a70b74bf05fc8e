#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix: the CMake emulator of the
# Windows builds. Each program goes to the Wine loader of its own width.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${K5_WINEPREFIX:-$here/../build/wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
"$here/wine-prefix.sh"
exe=$1
shift
# The machine field of the PE header: 0x8664 is x86-64, 0x14c is i386.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$exe" | tr -d ' ')
if [ "$machine" = "8664" ]; then
  exec /usr/lib/wine/wine64 "$exe" "$@"
fi
exec /usr/lib/wine/wine "$exe" "$@"
