#!/usr/bin/env python3
"""Times the whole dbgparse process against the I/O floors, in pairs.

Generates a realistic DBG file (256 MiB by default) under build/, then runs,
round after round, dbgparse and the two floors of bench/io_floor: plain (the
input read into operator-new memory, the table's byte count written in one
call) and huge pages (the input read into the program's own input memory,
written in 1 MiB blocks). Each run writes a new output: the old one is
removed and `sync` run first, outside the timing, so that no earlier run's
write-back lands inside a later one. Standard input is /dev/null.

Prints, for each program, the median, best and worst wall time, the median
user and system CPU time and the peak resident memory; then the median of
the paired ratios, each dbgparse run over the floor runs of its own round.
--versus NAME=PATH adds another build of dbgparse (main's, say) to every
round, and pairs it likewise.

Usage: bench/compare.py [--build build/bench] [--size-mib 256] [--runs 9]
                        [--dbgparse PATH] [--versus NAME=PATH ...]
Build first with: cmake --preset bench && cmake --build --preset bench
"""

import argparse
import os
import random
import statistics
import sys
from pathlib import Path

from bench_common import cached_file, run

ROOT = Path(__file__).resolve().parent.parent
GENERATOR_VERSION = 2
MIB = 1 << 20

FIRST = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_"
REST = FIRST + b"0123456789"


def generate(path: Path, size: int) -> dict:
    """Writes about `size` bytes of whole checksum lines; returns the facts."""
    rnd = random.Random(20261207)
    to_first = bytes(FIRST[b % len(FIRST)] for b in range(256))
    to_rest = bytes(REST[b % len(REST)] for b in range(256))
    table = 2
    with open(path, "wb") as out:
        written = out.write(
            b"; Checksums of the data files\r\n[Info]\r\nVersion=2\r\n\r\n[Checksums]\r\n")
        while written < size:
            # Names are cut from a pool of random identifier bytes. A "0x"
            # inside a name would start a checksum line of its own; real
            # names rarely hold one, so the pool holds none.
            pool = rnd.randbytes(MIB).translate(to_rest).replace(b"0x", b"0y")
            firsts = rnd.randbytes(MIB // 16).translate(to_first)
            lines = []
            at = 0
            for first in firsts:
                length = rnd.randint(5, 40)
                if at + length > len(pool) or written >= size:
                    break
                line = b"0x%08X %c%s\r\n" % (rnd.getrandbits(32), first, pool[at:at + length - 1])
                at += length - 1
                lines.append(line)
                written += len(line)
                table += 6 + length
            out.write(b"".join(lines))
    return {"version": GENERATOR_VERSION, "input_bytes": written, "table_bytes": table}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument("--size-mib", type=int, default=256)
    parser.add_argument("--runs", type=int, default=9, help="rounds, each runs every program once")
    parser.add_argument("--dbgparse", type=Path, help="the program to time (default: the build's)")
    parser.add_argument("--versus", action="append", default=[], metavar="NAME=PATH",
                        help="another build of dbgparse to run in every round")
    args = parser.parse_args()

    floor = args.build / "bench" / "io_floor"
    programs = {"dbgparse": args.dbgparse or args.build / "dbgparse"}
    for extra in args.versus:
        name, _, path = extra.partition("=")
        programs[name] = Path(path)
    for program in list(programs.values()) + [floor]:
        if not os.access(program, os.X_OK):
            print(f"missing {program}: build the bench preset first", file=sys.stderr)
            return 1

    data = ROOT / "build" / "bench-data"
    source, facts = cached_file(data / f"realistic-{args.size_mib}MiB.dbg", GENERATOR_VERSION,
                                 "input_bytes", lambda path: generate(path, args.size_mib * MIB))
    table_bytes = facts["table_bytes"]
    input_bytes = facts["input_bytes"]
    commands = {name: [str(path), str(source)] for name, path in programs.items()}
    commands["floor"] = [str(floor), str(source)]
    commands["floor huge"] = [str(floor), "--huge-pages", str(source)]
    outputs = {name: data / f"out-{index}.qb" for index, name in enumerate(commands)}
    for name in programs:
        commands[name].append(str(outputs[name]))
    for name in ("floor", "floor huge"):
        commands[name] += [str(outputs[name]), str(table_bytes)]

    def one_run(name: str) -> tuple[float, int, float, float]:
        outputs[name].unlink(missing_ok=True)
        os.sync()  # earlier runs' write-back must not land inside this one
        elapsed, status, rss, user, system = run(commands[name], data / "usage.txt")
        if status != 0:
            raise SystemExit(f"{name} failed with exit status {status}")
        return elapsed, rss, user, system

    # Warm-up: the input in the page cache, and a check of the table's size.
    for name in commands:
        one_run(name)
        got = outputs[name].stat().st_size
        if got != table_bytes:
            raise SystemExit(f"{name} wrote {got} bytes, expected {table_bytes}")

    names = list(commands)
    times = {name: [] for name in names}
    cpu = {name: ([], []) for name in names}
    peaks = {name: 0 for name in names}
    for round_number in range(args.runs):
        # Each round starts with another program, so that none always
        # follows the same one.
        shift = round_number % len(names)
        for name in names[shift:] + names[:shift]:
            elapsed, rss, user, system = one_run(name)
            times[name].append(elapsed)
            cpu[name][0].append(user)
            cpu[name][1].append(system)
            peaks[name] = max(peaks[name], rss)
    for path in list(outputs.values()) + [data / "usage.txt"]:
        path.unlink(missing_ok=True)

    budget = input_bytes + 16 * MIB
    print(f"input {input_bytes / MIB:.1f} MiB, table {table_bytes / MIB:.1f} MiB, "
          f"{args.runs} rounds after a warm-up; load average: "
          f"{', '.join(f'{load:.2f}' for load in os.getloadavg())}")
    print(f"{'':12} {'median s':>9} {'min s':>7} {'max s':>7} {'user s':>7} {'sys s':>7} "
          f"{'peak RSS MiB':>13}")
    for name in names:
        print(f"{name:12} {statistics.median(times[name]):9.3f} {min(times[name]):7.3f} "
              f"{max(times[name]):7.3f} {statistics.median(cpu[name][0]):7.2f} "
              f"{statistics.median(cpu[name][1]):7.2f} {peaks[name] / MIB:13.1f}")
    for name in programs:
        for base in ("floor", "floor huge"):
            ratios = [mine / theirs for mine, theirs in zip(times[name], times[base])]
            print(f"{name} / {base}: median of the paired ratios {statistics.median(ratios):.2f} "
                  f"(from {min(ratios):.2f} to {max(ratios):.2f})")
    for name in list(programs)[1:]:
        ratios = [mine / theirs for mine, theirs in zip(times["dbgparse"], times[name])]
        print(f"dbgparse / {name}: median of the paired ratios {statistics.median(ratios):.2f} "
              f"(from {min(ratios):.2f} to {max(ratios):.2f})")
    for name in programs:
        print(f"{name} peak RSS {peaks[name] / MIB:.1f} MiB, budget input + 16 MiB = "
              f"{budget / MIB:.1f} MiB: {'within' if peaks[name] <= budget else 'OVER'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
