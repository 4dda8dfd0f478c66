#!/usr/bin/env python3
"""Times small runs of dbgparse against plain C doing the same I/O, in pairs.

Most real inputs are small, so a run's cost is mostly the process's own
start: loading, relocating, the runtime's initialisation. bench/start_up_floor
is plain C linked against the C library alone: it reads the input whole and
writes as many bytes as the table has, and nothing else. For each input (an
empty file, and 1 MiB of checksum lines), the two run in turn, dbgparse
first, then the floor; every run writes a new output (the old one is removed
outside the timing) with standard input and output on /dev/null. Each pair
gives a ratio of wall times; the median of them is the figure.

Usage: bench/start_up.py [--build build/bench] [--pairs 21]
Build first with: cmake --preset bench && cmake --build --preset bench
"""

import argparse
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MIB = 1 << 20
# What a program of this kind should cost against the floor, at most.
GOALS = {"empty": 1.1, "1 MiB": 1.2}


def one_mib_of_lines(path: Path) -> None:
    """Writes 1 MiB of a DBG file, less the part of a line: the header, then
    whole checksum lines (a cut line would draw a warning every run)."""
    lines = [b"[Checksums]\r\n"]
    size = len(lines[0])
    number = 0
    while size < MIB:
        line = b"0x%08x name_of_entry_%d\r\n" % ((number * 2654435761) & 0xFFFFFFFF, number)
        lines.append(line)
        size += len(line)
        number += 1
    text = b"".join(lines)
    path.write_bytes(text[: text.rindex(b"\r\n", 0, MIB) + 2])


def timed(command: list[str], output: Path) -> float:
    """Wall seconds of one run into a new output."""
    output.unlink(missing_ok=True)
    with open(os.devnull, "rb") as nothing_in, open(os.devnull, "wb") as nothing_out:
        start = time.perf_counter()
        # Standard error too: an empty input draws a warning, written as a
        # user's terminal would take it, but not shown here.
        status = subprocess.call(command, stdin=nothing_in, stdout=nothing_out,
                                 stderr=nothing_out)
        elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{command[0]} failed with status {status}")
    return elapsed


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument("--pairs", type=int, default=21)
    args = parser.parse_args()

    program = args.build / "dbgparse"
    floor = args.build / "bench" / "start_up_floor"
    for needed in (program, floor):
        if not needed.exists():
            print(f"missing {needed}: build the bench preset first", file=sys.stderr)
            return 1
    work = args.build / "start_up"
    work.mkdir(parents=True, exist_ok=True)
    inputs = {"empty": work / "empty.dbg", "1 MiB": work / "one_mib.dbg"}
    inputs["empty"].write_bytes(b"")
    one_mib_of_lines(inputs["1 MiB"])

    print(f"{'input':8} {'dbgparse ms':>12} {'floor ms':>9} {'ratio':>6} {'goal':>5}")
    within = True
    for name, dbg in inputs.items():
        table = work / "table.qb"
        timed([str(program), str(dbg), str(table)], table)  # warm-up, and the table's size
        size = table.stat().st_size
        copy = work / "copy.qb"
        timed([str(floor), str(dbg), str(copy), str(size)], copy)
        ours, theirs, ratios = [], [], []
        for _ in range(args.pairs):
            ours.append(timed([str(program), str(dbg), str(table)], table))
            theirs.append(timed([str(floor), str(dbg), str(copy), str(size)], copy))
            ratios.append(ours[-1] / theirs[-1])
        ratio = statistics.median(ratios)
        within &= ratio <= GOALS[name]
        print(f"{name:8} {statistics.median(ours) * 1e3:12.3f} {statistics.median(theirs) * 1e3:9.3f}"
              f" {ratio:6.2f} {GOALS[name]:5.1f}")
    print(f"medians of {args.pairs} pairs; " + ("within the goals" if within else "NOT within the goals"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
