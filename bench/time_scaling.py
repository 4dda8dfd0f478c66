#!/usr/bin/env python3
"""Runs bench_parse_qb with repetitions and prints, for each generated input,
the best and the median CPU time, the throughput in MB/s (10^6 bytes) and how
the time grows as the input doubles (2.00 is linear).

The best of several runs is the one least disturbed by whatever else the
machine was doing; on a shared machine the medians vary by 5-10% from run to
run. bench/instruction_scaling.py gives counts that do not vary at all.

Usage: bench/time_scaling.py [--build build/bench] [--repetitions 9] [--filter REGEX]
"""

import argparse
import collections
import json
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument("--repetitions", type=int, default=9)
    parser.add_argument("--filter", default=".", help="benchmarks to run (a regular expression)")
    args = parser.parse_args()
    bench = args.build / "bench" / "bench_parse_qb"

    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([str(bench), f"--benchmark_filter={args.filter}",
                        f"--benchmark_repetitions={args.repetitions}",
                        f"--benchmark_out={out.name}", "--benchmark_out_format=json"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        report = json.load(open(out.name))
    context = report["context"]
    print(f"{context['date']}, {context['num_cpus']} CPUs, load average before the run "
          f"{', '.join(f'{load:.2f}' for load in context.get('load_avg', []))}")

    times = collections.defaultdict(list)
    input_bytes = {}
    for run in report["benchmarks"]:
        if run.get("run_type") == "iteration":
            times[run["run_name"]].append(run["cpu_time"])
            input_bytes[run["run_name"]] = run["input_MiB"] * (1 << 20)

    print(f"{'input':32} {'best ms':>8} {'median ms':>9} {'best MB/s':>9} {'median MB/s':>11} "
          f"{'x previous (best, median)':>26}")
    previous = {}
    for name, runs in times.items():
        shape = name.rsplit("/", 1)[0]  # the shape and the entry point
        best, median = min(runs), statistics.median(runs)
        growth = ""
        if shape in previous:
            growth = f"{best / previous[shape][0]:.2f}, {median / previous[shape][1]:.2f}"
        previous[shape] = (best, median)
        size = input_bytes[name]
        print(f"{name.removeprefix('bm_convert/'):32} {best:8.2f} {median:9.2f} "
              f"{size / best / 1e3:9.0f} {size / median / 1e3:11.0f} {growth:>26}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
