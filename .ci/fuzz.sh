#!/usr/bin/env bash
# Builds the libFuzzer target (preset "fuzz", clang), replays the saved corpus
# through it, then fuzzes parse_qb against the reference model for 60 seconds
# (DBGPARSE_FUZZ_SECONDS to change). Any difference, sanitizer report, leak,
# hang or crash fails the check; the input that caused it is kept under
# build/fuzz/run/artifacts/ and belongs in fuzz/corpus/ once understood.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${DBGPARSE_FUZZ_SECONDS:-60}"
fuzzer=build/fuzz/fuzz/fuzz_parse_qb
work=build/fuzz/run

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is needed for libFuzzer" >&2
  exit 1
fi

cmake --preset fuzz
cmake --build --preset fuzz

rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"

echo "fuzz: replaying fuzz/corpus"
"$fuzzer" -runs=0 -artifact_prefix="$work/artifacts/" fuzz/corpus

echo "fuzz: fuzzing for ${seconds} s"
status=0
# New inputs go to the scratch folder; fuzz/corpus is only read.
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -dict=fuzz/dbg.dict -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
  "$work/corpus" fuzz/corpus >"$work/log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
echo "fuzz: ${executions:-no} executions in ${seconds} s"

findings=$(find "$work/artifacts" -type f | wc -l)
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  tail -n 60 "$work/log"
  for artifact in "$work/artifacts"/*; do
    [ -f "$artifact" ] || continue
    echo "fuzz: finding $artifact:"
    od -A d -t x1z -v "$artifact" | head -n 40
  done
  echo "fuzz: FAILED (status $status, $findings findings)" >&2
  exit 1
fi
echo "fuzz: no findings"
