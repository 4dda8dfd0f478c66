#!/usr/bin/env python3
"""Counts the instructions the conversion executes on each generated input of
bench_parse_qb, through each entry point, under valgrind's callgrind, and
prints how the count grows as the input doubles.

Unlike timings, the counts are the same on every run whatever else the
machine is doing, so they show linear scaling (a ratio of 2.00 per doubling)
without noise. Memory effects (caches, page faults) are not in them: the
timings of bench_parse_qb show those.

Usage: bench/instruction_scaling.py [--build build/bench] [--filter REGEX]
"""

import argparse
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def count(bench: Path, name: str, out_file: Path) -> tuple[int, int]:
    """Instructions in the conversion and its callees (with write_table's
    writing thread), and the number of calls."""
    result = subprocess.run(
        ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out_file}",
         "--toggle-collect=dbgparse::parse_qb*", "--toggle-collect=dbgparse::write_table*",
         "--toggle-collect=dbgparse::block_writer::write_blocks*", str(bench),
         f"--benchmark_filter=^bm_convert/{name}$", "--benchmark_min_time=0.001"],
        capture_output=True, text=True, check=True)
    collected = re.search(r"Collected : (\d+)", result.stderr)
    iterations = re.search(rf"bm_convert/{name}\s+\S+ \S+\s+\S+ \S+\s+(\d+)", result.stdout)
    if not collected or not iterations:
        raise SystemExit(f"cannot read the counts of {name}:\n{result.stdout}{result.stderr}")
    return int(collected.group(1)), int(iterations.group(1))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument("--filter", default=".", help="shapes to count (a regular expression)")
    args = parser.parse_args()
    bench = args.build / "bench" / "bench_parse_qb"
    listed = subprocess.run([str(bench), "--benchmark_list_tests"], capture_output=True,
                            text=True, check=True).stdout.split()
    out_file = args.build / "callgrind.scaling.out"

    print(f"{'input':32} {'instructions':>14} {'per byte':>9} {'x previous':>11}")
    previous = {}
    for test in listed:
        name = test.removeprefix("bm_convert/")
        shape, mib = name.rsplit("/", 1)
        if not re.search(args.filter, shape):
            continue
        instructions, calls = count(bench, name, out_file)
        per_call = instructions / calls
        growth = f"{per_call / previous[shape]:11.2f}" if shape in previous else ""
        previous[shape] = per_call
        print(f"{name:32} {per_call:14.0f} {per_call / (int(mib) << 20):9.2f} {growth}", flush=True)
    out_file.unlink(missing_ok=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
