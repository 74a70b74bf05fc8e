#!/usr/bin/env bash
# Usage: check-dll-tables.sh <objdump> <dll> <Name1,Name2,...>
# Passes when the DLL exports exactly the given names, undecorated and in that order, and imports
# only DLLs that every Windows has.
set -euo pipefail
objdump=$1 dll=$2 expected=$3

dump=$("$objdump" -p "$dll")
# Rows of the "[Ordinal/Name Pointer] Table" look like "	[   0] OrderBook_Free"; the table is
# sorted by name, so take the ordinal to restore the export order.
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' | sort -n | cut -d' ' -f2 | paste -sd, -)
if [ "$exports" != "$expected" ]; then
  echo "exports differ"
  echo "  expected: $expected"
  echo "  found:    $exports"
  exit 1
fi
echo "exports (in ordinal order): $exports"

allowed='^(KERNEL32|msvcrt|WINHTTP|ADVAPI32|USER32|WS2_32|CRYPT32|bcrypt|ntdll)\.dll$'
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
bad=$(printf '%s\n' "$imports" | grep -viE "$allowed" || true)
echo "imports: $(printf '%s\n' "$imports" | paste -sd' ' -)"
if [ -n "$bad" ]; then
  echo "imports a DLL that is not part of every Windows: $bad"
  exit 1
fi
