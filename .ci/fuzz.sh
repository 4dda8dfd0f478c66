#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang), replays each one's
# saved corpus and the golden files of tests/data through it, then fuzzes
# each in turn, splitting 90 seconds
# between them (DBGPARSE_FUZZ_SECONDS to change the total):
#   fuzz_parse_qb    parse_qb against the reference model
#   fuzz_round_trip  DBG input -> table -> qbdump's listing -> the same table
#   fuzz_qb_reader   the table reader and the listing on arbitrary bytes
# Any difference, sanitizer report, leak, hang or crash fails the check; the
# input that caused it is kept under build/fuzz/run/TARGET/artifacts/ and
# belongs in the target's corpus once understood.
set -euo pipefail
cd "$(dirname "$0")/.."

total="${DBGPARSE_FUZZ_SECONDS:-90}"
targets=(fuzz_parse_qb fuzz_round_trip fuzz_qb_reader)
declare -A corpus=([fuzz_parse_qb]=fuzz/corpus [fuzz_round_trip]=fuzz/corpus
                   [fuzz_qb_reader]=fuzz/corpus_tables)
declare -A dictionary=([fuzz_parse_qb]=-dict=fuzz/dbg.dict [fuzz_round_trip]=-dict=fuzz/dbg.dict
                       [fuzz_qb_reader]=)
# Read by every target besides its own corpus, never written.
golden=tests/data
seconds=$((total / ${#targets[@]}))

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is needed for libFuzzer" >&2
  exit 1
fi

cmake --preset fuzz
cmake --build --preset fuzz

failed=0
for target in "${targets[@]}"; do
  fuzzer="build/fuzz/fuzz/$target"
  work="build/fuzz/run/$target"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"

  echo "fuzz: $target: replaying ${corpus[$target]} and $golden"
  "$fuzzer" -runs=0 -artifact_prefix="$work/artifacts/" "${corpus[$target]}" "$golden"

  echo "fuzz: $target: fuzzing for ${seconds} s"
  status=0
  # New inputs go to the scratch folder, the first one named; the saved
  # corpus and the golden files are only read.
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    ${dictionary[$target]} -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "${corpus[$target]}" "$golden" >"$work/log" 2>&1 || status=$?

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  echo "fuzz: $target: ${executions:-no} executions in ${seconds} s"

  # A unit reported slow is replayed alone: one that now runs within the
  # timeout was slowed by the machine (a busy neighbour, a paused virtual
  # machine), not by the code, and is said but not counted. A unit that
  # passes the timeout fails the fuzzer itself.
  for artifact in "$work/artifacts"/slow-unit-*; do
    [ -f "$artifact" ] || continue
    if timeout 10 "$fuzzer" "$artifact" >/dev/null 2>&1; then
      echo "fuzz: $target: $artifact was slow once but runs within 10 s alone; not counted"
      mv "$artifact" "$work/slow-once-$(basename "$artifact")"
    fi
  done
  findings=$(find "$work/artifacts" -type f | wc -l)
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    tail -n 60 "$work/log"
    for artifact in "$work/artifacts"/*; do
      [ -f "$artifact" ] || continue
      echo "fuzz: finding $artifact:"
      od -A d -t x1z -v "$artifact" | head -n 40
    done
    echo "fuzz: $target: FAILED (status $status, $findings findings)" >&2
    failed=1
  fi
done
if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "fuzz: no findings"
