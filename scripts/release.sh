#!/usr/bin/env bash
# Usage: scripts/release.sh [--deployment FILE] [--out DIR] [--build-dir PREFIX]
# Makes the release package DIR/k5-mkview-<version>-<deployment>.zip (DIR defaults to dist):
# Release builds of the 32-bit and 64-bit DLLs and k5-token for the deployment FILE (default
# cmake/deployments/dev.cmake), stripped, laid out as a terminal's data folder:
#   MQL4/Libraries/{k5-mkview.dll,k5-token.exe} (32-bit), MQL4/{Include,Indicators,Scripts}
#   MQL5/Libraries/{k5-mkview.dll,k5-token.exe} (64-bit), MQL5/{Include,Indicators,Scripts}
#   k5-mkview-user-guide.md, SHA256SUMS (of every other file)
# The builds live in PREFIX-win32 and PREFIX-win64 (default build/release-*), the tree in
# PREFIX-stage. scripts/check-package.sh must pass on the tree, else nothing is packaged. The same
# commit and deployment give the same zip, byte for byte, from any build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

deployment=cmake/deployments/dev.cmake
out=dist
build_prefix=build/release
while [ $# -gt 0 ]; do
  case "$1" in
    --deployment) deployment=${2:?--deployment needs a file}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    --build-dir) build_prefix=${2:?--build-dir needs a prefix}; shift 2 ;;
    *)
      echo "usage: scripts/release.sh [--deployment FILE] [--out DIR] [--build-dir PREFIX]" >&2
      exit 2
      ;;
  esac
done

fail() {
  echo "release: $*" >&2
  exit 1
}

[ -f "$deployment" ] || fail "no deployment file $deployment"
deployment=$(realpath "$deployment")
deployment_name=$(basename "$deployment" .cmake)
version=$(sed -n 's/^project(k5-mkview VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "cannot read the version from project(k5-mkview VERSION x.y.z) in CMakeLists.txt"
package=k5-mkview-$version-$deployment_name

for terminal in MQL4 MQL5; do
  for folder in Include Indicators Scripts; do
    if [ -z "$(find "mql/$terminal/$folder" -type f 2>/dev/null | head -1)" ]; then
      fail "mql/$terminal/$folder is missing or empty: the package needs the MQL files"
    fi
  done
done
[ -f docs/user-guide.md ] || fail "docs/user-guide.md is missing"

echo "release: $package (deployment $deployment)"
stage=$build_prefix-stage
rm -rf "$stage"
mkdir -p "$(dirname "$build_prefix")"
for entry in "win32 MQL4 i686-w64-mingw32" "win64 MQL5 x86_64-w64-mingw32"; do
  read -r preset terminal triple <<<"$entry"
  build=$build_prefix-$preset
  echo "release: building $preset in $build"
  cmake --preset "$preset" -B "$build" -DK5_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    -DK5_DEPLOYMENT_FILE="$deployment" >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log" >&2; fail "configuring $preset failed"; }
  cmake --build "$build" --target k5-mkview k5-token >"$build.build.log" 2>&1 ||
    { tail -n 40 "$build.build.log" >&2; fail "building $preset failed (log: $build.build.log)"; }
  mkdir -p "$stage/$terminal/Libraries"
  # strip rewrites the PE header with the current time unless SOURCE_DATE_EPOCH is set; 0 is what
  # the linker's --no-insert-timestamp writes.
  for file in k5-mkview.dll k5-token.exe; do
    SOURCE_DATE_EPOCH=0 "$triple-strip" --strip-all -o "$stage/$terminal/Libraries/$file" "$build/bin/$file"
  done
  for folder in Include Indicators Scripts; do
    cp -R "mql/$terminal/$folder" "$stage/$terminal/$folder"
  done
done
cp docs/user-guide.md "$stage/k5-mkview-user-guide.md"

echo "release: checking the tree"
bash scripts/check-package.sh "$stage" || fail "refusing to package $package: the check above failed"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum >SHA256SUMS)

mkdir -p "$out"
zip=$(realpath "$out")/$package.zip
# Fixed order, time stamps and attributes, so the zip depends on the files' contents alone.
python3 - "$stage" "$zip" <<'EOF'
import os, sys, zipfile
stage, target = sys.argv[1], sys.argv[2]
names = sorted(os.path.relpath(os.path.join(d, f), stage).replace(os.sep, "/")
               for d, _, files in os.walk(stage) for f in files)
with zipfile.ZipFile(target + ".part", "w") as z:
    for name in names:
        info = zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0))
        info.external_attr = 0o100644 << 16
        info.create_system = 3
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(stage, name), "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
os.replace(target + ".part", target)
EOF
echo "release: wrote $zip ($(stat -c %s "$zip") bytes)"
