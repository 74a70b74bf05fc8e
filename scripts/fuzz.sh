#!/usr/bin/env bash
# Runs the fuzz targets for longer than the test command does, one after another, at the lowest
# CPU priority.
#
#   scripts/fuzz.sh [seconds per target] [target...]     # default: 600 s, every target
#
# Builds the `fuzz` preset first (set K5_FUZZ_BUILD to use another build folder that holds the
# targets in bin/, without building). Each target starts from its committed seeds
# (fuzz/corpus/<target>) and grows its own corpus in build/fuzz-corpus/<target>; the committed
# seeds are never written. Per target: the log in build/fuzz-runs/<target>.log, any crash, leak
# or timeout input in build/fuzz-runs/<target>/. Reproduce a finding with
# `build/fuzz/bin/<target>_fuzz build/fuzz-runs/<target>/crash-...`.
# Exit status: 1 when any target found something.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-600}"
shift || true
all=(book_reply token_reply token_file decimal book_request string_util content_decoder)
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=("${all[@]}")

if [ -n "${K5_FUZZ_BUILD:-}" ]; then
  build="$K5_FUZZ_BUILD"
else
  build="$root/build/fuzz"
  (cd "$root" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2) || exit 2
fi

status=0
for t in "${targets[@]}"; do
  bin="$build/bin/${t}_fuzz"
  [ -x "$bin" ] || { echo "fuzz: no target $bin" >&2; exit 2; }
  corpus="$root/build/fuzz-corpus/$t"
  findings="$root/build/fuzz-runs/$t"
  log="$root/build/fuzz-runs/$t.log"
  mkdir -p "$corpus" "$findings"
  dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  echo "fuzz: $t for ${seconds}s, log $log"
  echo "=== $(date -u +%FT%TZ) $t for ${seconds}s" >>"$log"
  # -max_len: the largest seed is a whole book of about 19 KB. The log gathers every run of the
  # target; "cpu: user ... s" after each run is the CPU time it actually got.
  TIMEFORMAT="cpu: user %U s, system %S s, wall %R s"
  { time nice -n 19 "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=32768 -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" \
      "$corpus" "$root/fuzz/corpus/$t" >>"$log" 2>&1; } 2>>"$log"
  rc=$?
  grep -E '^(stat::number_of_executed_units|Done|cpu:)' "$log" | tail -3
  if [ "$rc" -ne 0 ] || ls "$findings" | grep -q .; then
    echo "fuzz: $t found something (exit $rc): $(ls "$findings" | tr '\n' ' ')"
    status=1
  fi
done
exit "$status"
