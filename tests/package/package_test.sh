#!/usr/bin/env bash
# The release package end to end, as a user gets it:
#  1. scripts/release.sh twice, in two build folders: the DLLs, the tools and the zip must be
#     byte-identical (a time stamp or a build path in a binary shows up here);
#  2. the zip unpacked into a data folder under a user name with Cyrillic letters inside the
#     project's Wine prefix, the token file written with the packaged k5-token.exe, and
#     `k5-token.exe road` run from MQL4/Libraries (32-bit) and MQL5/Libraries (64-bit) against the
#     local sandbox: each prints the book and exits 0;
#  3. one fault at a time, each with the road check's exit code and message: no token file, the
#     64-bit DLL in the 32-bit folder, a rejected token, an unknown server, the sandbox stopped;
#  4. the package check refusing trees with a wrong-width DLL, a DLL with other exports, or a file
#     that no longer matches SHA256SUMS.
# Everything lives in build/package-test (K5_PACKAGE_TEST_DIR); the data folders go into the
# prefix's drive_c and are removed after a passing run.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
work=${K5_PACKAGE_TEST_DIR:-$root/build/package-test}
prefix=${K5_WINEPREFIX:-$root/build/wine}
# Wine turns the command line into UTF-16 with the locale's encoding: Cyrillic paths need UTF-8.
export LC_ALL=C.UTF-8
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
started=$(date +%s)
passed=0
failed=0

pass() {
  echo "PASS $1"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL $1"
  failed=$((failed + 1))
}
finish() {
  echo "package stage: $(($(date +%s) - started)) s"
  echo "package: $passed passed, $failed failed"
  [ "$failed" = 0 ] && [ "$passed" -gt 0 ]
  exit
}
elapsed() { echo "  ($(($(date +%s) - $1)) s)"; }

mkdir -p "$work"
rm -rf "$work/a" "$work/b"

# 1. Two release builds from the same sources in two build folders.
for run in a b; do
  t=$(date +%s)
  echo "--- release build $run"
  if ! bash scripts/release.sh --build-dir "$work/$run/release" --out "$work/$run/dist" >"$work/$run.log" 2>&1; then
    cat "$work/$run.log"
    fail "release.sh ($run)"
    finish
  fi
  elapsed "$t"
done
version=$(sed -n 's/^project(k5-mkview VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
zip_name=k5-mkview-$version-dev.zip
zip_a=$work/a/dist/$zip_name
zip_b=$work/b/dist/$zip_name
if [ -f "$zip_a" ] && [ -f "$zip_b" ]; then
  pass "release.sh names the package $zip_name ($(stat -c %s "$zip_a") bytes)"
else
  fail "release.sh did not write $zip_name: $(ls "$work/a/dist" "$work/b/dist" 2>&1 | paste -sd' ' -)"
  finish
fi

differ=()
for file in MQL4/Libraries/k5-mkview.dll MQL4/Libraries/k5-token.exe MQL5/Libraries/k5-mkview.dll \
  MQL5/Libraries/k5-token.exe; do
  # cmp names the first differing byte: one in the PE header (near byte 137) is a time stamp.
  if ! where=$(cmp "$work/a/release-stage/$file" "$work/b/release-stage/$file" 2>&1); then
    differ+=("$file (${where##*: })")
  fi
done
if [ "${#differ[@]}" = 0 ]; then
  pass "two builds in two folders give byte-identical DLLs and tools"
else
  fail "two builds in two folders differ in: ${differ[*]}"
fi
if cmp -s "$zip_a" "$zip_b"; then
  pass "the two zips are byte-identical"
else
  fail "the two zips differ"
fi

# 2. The package as a user installs it.
echo "--- contents"
listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip_a")
top=$(printf '%s\n' "$listing" | awk -F/ 'NF > 2 { print $1 "/" $2 } NF <= 2 { print $0 }' | sort -u | paste -sd' ' -)
expected_top="MQL4/Include MQL4/Indicators MQL4/Libraries MQL4/Scripts MQL5/Include MQL5/Indicators MQL5/Libraries MQL5/Scripts SHA256SUMS k5-mkview-user-guide.md"
if [ "$top" = "$expected_top" ]; then
  pass "the zip holds the data folder's tree, the guide and SHA256SUMS"
else
  fail "the zip's tree is: $top (expected: $expected_top)"
fi

terminals=$prefix/drive_c/users/Пользователь/AppData/Roaming/MetaQuotes/Terminal
windows_terminals='C:\users\Пользователь\AppData\Roaming\MetaQuotes\Terminal'
run_id=0123ABCD$(date +%s)$$
data=$terminals/$run_id
mkdir -p "$data"
python3 -m zipfile -e "$zip_a" "$data"
if report=$(bash scripts/check-package.sh "$data" 2>&1); then
  pass "the unpacked package passes the package check (machine types, exports, imports, SHA256SUMS)"
else
  fail "the unpacked package fails the package check: $report"
fi

# 4. The package check refuses what must not be shipped.
while IFS='|' read -r name tamper expected; do
  copy=$work/tampered
  rm -rf "$copy"
  cp -R "$data" "$copy"
  (cd "$copy" && eval "$tamper")
  if out=$(bash scripts/check-package.sh "$copy" 2>&1); then
    fail "package check accepts $name"
  elif ! grep -q -- "$expected" <<<"$out"; then
    fail "package check refuses $name without \"$expected\": $out"
  else
    pass "package check refuses $name"
  fi
done <<'EOF'
the 64-bit DLL in MQL4|cp MQL5/Libraries/k5-mkview.dll MQL4/Libraries/k5-mkview.dll|MQL4/Libraries/k5-mkview.dll has machine type 0x8664, not 0x014c
the 32-bit tool in MQL5|cp MQL4/Libraries/k5-token.exe MQL5/Libraries/k5-token.exe|MQL5/Libraries/k5-token.exe has machine type 0x014c, not 0x8664
a DLL without the twelve exports|cp MQL4/Libraries/k5-token.exe MQL4/Libraries/k5-mkview.dll|exports differ
a missing DLL|rm MQL5/Libraries/k5-mkview.dll|MQL5/Libraries/k5-mkview.dll is missing
a file changed after packaging|echo >>k5-mkview-user-guide.md|SHA256SUMS does not match
a file not listed in SHA256SUMS|touch MQL4/Include/extra.mqh|does not list exactly
EOF
rm -rf "$work/tampered"

echo "--- road checks under Wine"
t=$(date +%s)
bash scripts/wine-prefix.sh || { fail "the Wine prefix cannot be made"; finish; }
state=$work/sandbox
pki=$root/build/sandbox/pki
sandbox_running=0
stop_sandbox() {
  if [ "$sandbox_running" = 1 ]; then
    bash tests/sandbox-fixture.sh stop "$state" >/dev/null 2>&1
    sandbox_running=0
  fi
}
trap stop_sandbox EXIT
if ! bash tests/sandbox-fixture.sh start "$root/cmake/deployments/dev.cmake" "$pki" "$state" >"$work/sandbox-start.log" 2>&1; then
  cat "$work/sandbox-start.log"
  fail "the sandbox does not start"
  finish
fi
sandbox_running=1

# Wine's WinHTTP trusts the prefix's Root store: the sandbox's CA goes there (as the Windows test
# suites do), with a copy of their helper built here.
trust=$work/k5_trust_ca.exe
if ! i686-w64-mingw32-g++-posix -O1 -static -municode -o "$trust" tests/tools/trust_ca_windows.cc -lcrypt32 ||
  ! bash scripts/wine-run.sh "$trust" "Z:$pki/ca.pem" >/dev/null; then
  fail "the sandbox's CA cannot be added to the prefix"
  finish
fi

wine_tool() {  # wine_tool <data folder> <MQL4|MQL5> <arguments...>: runs that folder's k5-token.exe there
  local folder=$1/$2/Libraries
  shift 2
  (cd "$folder" && bash "$root/scripts/wine-run.sh" ./k5-token.exe "$@" 2>&1)
}
for terminal in MQL4 MQL5; do
  out=$(wine_tool "$data" "$terminal" write "$windows_terminals\\$run_id\\$terminal\\Libraries" sandbox-practice-token)
  if [ -f "$data/$terminal/Libraries/tervik_token.txt" ]; then
    pass "$terminal k5-token.exe writes the token file through a Cyrillic path"
  else
    fail "$terminal k5-token.exe did not write the token file: $out"
  fi
done

# One case a line: name | folder | what to break in a copy of the data folder (run there) |
# the road check's arguments | exit code | a text its output must hold.
while IFS='|' read -r name terminal breakage args code expected; do
  folder=$data
  if [ "$breakage" != "-" ]; then
    folder=$data-$(tr -c 'a-zA-Z0-9\n' - <<<"$name")
    rm -rf "$folder"
    cp -R "$data" "$folder"
    (cd "$folder" && eval "$breakage")
  fi
  eval "set -- $args"
  out=$(wine_tool "$folder" "$terminal" road "$@")
  status=$?
  if [ "$status" = "$code" ] && grep -qF -- "$expected" <<<"$out"; then
    pass "road, $name: exit $code"
  else
    fail "road, $name: expected exit $code and \"$expected\", got exit $status:"
    printf '%s\n' "$out" | sed 's/^/    /'
  fi
done <<'EOF'
32-bit package|MQL4|-|"TERVIK-k5 Practice-2" EURUSD|0|book: EUR_USD at 
64-bit package|MQL5|-|"TERVIK-k5 Practice-2" EURUSD|0|book: EUR_USD at 
no token file|MQL4|rm MQL4/Libraries/tervik_token.txt|"TERVIK-k5 Practice-2" EURUSD|4|File does not exist: C:\users\Пользователь\
64-bit DLL in the 32-bit folder|MQL4|cp MQL5/Libraries/k5-mkview.dll MQL4/Libraries/|"TERVIK-k5 Practice-2" EURUSD|3|193
rejected token|MQL5|wine_tool . MQL5 write . not-the-token >/dev/null|"TERVIK-k5 Practice-2" EURUSD|6|HTTP 401
unknown trading server|MQL4|-|"TERVIK-k5 Nowhere" EURUSD|7|Unrecognized Server: TERVIK-k5 Nowhere
EOF

stop_sandbox
out=$(wine_tool "$data" MQL4 road "TERVIK-k5 Practice-2" EURUSD)
status=$?
if [ "$status" = 5 ] && grep -qF "WinHTTP error 12029" <<<"$out"; then
  pass "road, sandbox stopped: exit 5"
else
  fail "road, sandbox stopped: expected exit 5 and \"WinHTTP error 12029\", got exit $status:"
  printf '%s\n' "$out" | sed 's/^/    /'
fi
elapsed "$t"

if [ "$failed" = 0 ]; then
  rm -rf "$data" "$data"-*
else
  echo "the data folders are kept for inspection: $data*"
fi
finish
