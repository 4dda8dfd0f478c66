#!/usr/bin/env bash
# Builds the benchmarks and gives them a very short run on small inputs, so
# that they keep building and working. Nothing here is timed: the figures
# come from the full runs that doc/performance.md describes. What is judged
# is the instruction count of three fixed conversions against the baselines
# in the tree, which does not vary with the machine's load.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench
cmake --build --preset bench
# Fails when a count is more than 3% above its baseline (valgrind).
python3 bench/instruction_counts.py --check
./build/bench/bench/bench_parse_qb --benchmark_filter='/(2|4)$' --benchmark_min_time=0.01
./build/bench/bench/bench_listing --benchmark_filter='/50000$' --benchmark_min_time=0.01
# The program and the floor side by side on a small file; this also checks
# that the table has the expected length.
python3 bench/compare.py --size-mib 4 --runs 1
# The conversion in-process through the C interface, on the same file.
./build/bench/bench/convert_in_process build/bench-data/realistic-4MiB.dbg 3
# qbdump listing a small table against the same floor.
python3 bench/compare_qbdump.py --size-mib 4 --runs 1
# Small runs against plain C doing the same I/O.
python3 bench/start_up.py --pairs 3
