#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the configurations and runs their suites
# (native, native under AddressSanitizer and UndefinedBehaviorSanitizer, native under
# ThreadSanitizer, 32-bit and 64-bit Windows under Wine, the fuzz targets for a bounded number of
# inputs each), then the release package. Exits non-zero if any stage fails; the others still run.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

presets=(${K5_PRESETS:-native native-asan tsan win64 win32 fuzz})
failed=()
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  if ! { cmake --preset "$preset" -DK5_BUILD_TESTS=ON >/dev/null && cmake --build --preset "$preset" -- -k 0; }; then
    failed+=("$preset (build)")
    continue
  fi
  echo "=== $preset: test"
  ctest --preset "$preset" --output-on-failure || failed+=("$preset (tests)")
done

# The release package: two release builds (byte-identical), then the zip installed into a data
# folder in the Wine prefix and checked end to end. K5_PACKAGE=0 skips it.
if [ "${K5_PACKAGE:-1}" != 0 ]; then
  echo "=== package"
  bash tests/package/package_test.sh || failed+=("package")
fi

if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all configurations passed: ${presets[*]}"
