#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the four configurations and runs their suites
# (native, native under AddressSanitizer and UndefinedBehaviorSanitizer, 32-bit and 64-bit Windows
# under Wine). Exits non-zero if any configuration fails; the others still run.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

presets=(${K5_PRESETS:-native native-asan win64 win32})
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

if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all configurations passed: ${presets[*]}"
