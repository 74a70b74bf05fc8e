#!/usr/bin/env bash
# The main job: installs what is missing, builds the three targets and shows what each exports.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in native win32 win64; do
  cmake --preset "$preset" -DK5_BUILD_TESTS=OFF >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
echo "native: build/native/bin/libk5-mkview.so"
nm -D --defined-only build/native/bin/libk5-mkview.so | awk '{print "  " $3}'
for pair in win32:i686-w64-mingw32 win64:x86_64-w64-mingw32; do
  preset=${pair%%:*} triple=${pair#*:}
  echo "$preset: build/$preset/bin/k5-mkview.dll"
  "$triple-objdump" -p "build/$preset/bin/k5-mkview.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' |
    sort -n | awk '{printf "  ordinal %d  %s\n", $1 + 1, $2}'
done
