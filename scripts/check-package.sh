#!/usr/bin/env bash
# Usage: check-package.sh <folder>
# Checks a release tree laid out like a terminal's data folder (the staging folder of
# release.sh, or an unpacked package): the DLL in MQL4/Libraries is 32-bit and the one in
# MQL5/Libraries 64-bit, each exports exactly the names of cmake/K5Exports.cmake in their order
# and imports only system DLLs; the tools beside them have the same widths; and, where the tree
# holds SHA256SUMS, every file matches it. Prints what it checked; exits 1 with the reason at the
# first fault.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=${1:?usage: check-package.sh <folder>}

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# The machine field of the PE header, as 4 hex digits: 014c is i386, 8664 is x86-64.
pe_machine() {
  local file=$1 signature pe_offset
  [ "$(head -c 2 "$file")" = "MZ" ] || { echo "none"; return; }
  pe_offset=$(od -An -tu4 -j60 -N4 "$file" | tr -d ' ')
  signature=$(od -An -c -j"$pe_offset" -N2 "$file" | tr -d ' ')
  [ "$signature" = "PE" ] || { echo "none"; return; }
  od -An -tx2 -j$((pe_offset + 4)) -N2 "$file" | tr -d ' '
}

# The export names in their order, from the one list the build uses.
script=$(mktemp)
trap 'rm -f "$script"' EXIT
cat >"$script" <<EOF
include("$here/../cmake/K5Exports.cmake")
string(REPLACE ";" "," names "\${K5_EXPORT_NAMES}")
message(NOTICE "\${names}")
EOF
export_names=$(cmake -P "$script" 2>&1)
[ -n "$export_names" ] || fail "cannot read the export names from cmake/K5Exports.cmake"

for entry in "MQL4 014c i686-w64-mingw32 32-bit" "MQL5 8664 x86_64-w64-mingw32 64-bit"; do
  read -r folder machine triple width <<<"$entry"
  for file in k5-mkview.dll k5-token.exe; do
    path=$tree/$folder/Libraries/$file
    [ -f "$path" ] || fail "$folder/Libraries/$file is missing"
    found=$(pe_machine "$path")
    if [ "$found" != "$machine" ]; then
      fail "$folder/Libraries/$file has machine type 0x$found, not 0x$machine: $folder needs the $width build"
    fi
    echo "$folder/Libraries/$file: machine 0x$found ($width)"
  done
  if ! report=$("$here/check-dll-tables.sh" "$triple-objdump" "$tree/$folder/Libraries/k5-mkview.dll" \
    "$export_names" 2>&1); then
    fail "$folder/Libraries/k5-mkview.dll: $(printf '%s' "$report" | paste -sd' ' -)"
  fi
  printf '%s\n' "$report" | sed "s|^|$folder/Libraries/k5-mkview.dll: |"
done

if [ -f "$tree/SHA256SUMS" ]; then
  if ! report=$(cd "$tree" && sha256sum --strict -c SHA256SUMS 2>&1); then
    fail "SHA256SUMS does not match: $(printf '%s\n' "$report" | grep -v ': OK$' | paste -sd' ' -)"
  fi
  listed=$(cut -c67- "$tree/SHA256SUMS" | sort)
  present=$(cd "$tree" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort)
  [ "$listed" = "$present" ] || fail "SHA256SUMS does not list exactly the package's other files"
  echo "SHA256SUMS: $(printf '%s\n' "$listed" | wc -l) files match"
fi
