#!/usr/bin/env python3
"""Times qbdump listing a table against the I/O floor, side by side.

Generates a realistic QB table (194 MiB by default: names of 5 to 40
identifier bytes, none holding "0x") under build/bench-data/, then runs
`qbdump TABLE LISTING` and `io_floor TABLE OUT BYTES` alternately after one
warm-up run of each. io_floor reads the table whole and writes as many bytes
as the listing has, and nothing else. Prints each one's median and best wall
time, CPU times and peak memory, and the ratio qbdump/floor.

Usage: bench/compare_qbdump.py [--build build/bench] [--size-mib 194] [--runs 5]
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
GENERATOR_VERSION = 1
MIB = 1 << 20
NAME_BYTES = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789"


def generate(path: Path, size: int) -> dict:
    """Writes a table of about `size` bytes; returns its facts."""
    rnd = random.Random(20261208)
    to_name = bytes(NAME_BYTES[b % len(NAME_BYTES)] for b in range(256))
    listing = len(b"[Checksums]\r\n")
    entries = 0
    with open(path, "wb") as out:
        written = 0
        while written < size - 2:
            pool = rnd.randbytes(MIB).translate(to_name).replace(b"0x", b"0y")
            parts = []
            at = 0
            while written < size - 2:
                length = rnd.randint(5, 40)
                if at + length > len(pool):
                    break
                marker = b"\x01\x2b" if entries == 0 else b"\x00\x2b"
                parts.append(marker + rnd.getrandbits(32).to_bytes(4, "little") + pool[at:at + length])
                at += length
                written += 6 + length
                listing += 11 + length + 2
                entries += 1
            out.write(b"".join(parts))
        out.write(b"\x00\x00")
        written += 2
    return {"version": GENERATOR_VERSION, "table_bytes": written, "listing_bytes": listing,
            "entries": entries}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    parser.add_argument("--size-mib", type=int, default=194)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()

    qbdump = args.build / "qbdump"
    floor = args.build / "bench" / "io_floor"
    for program in (qbdump, floor):
        if not os.access(program, os.X_OK):
            print(f"missing {program}: build the bench preset first", file=sys.stderr)
            return 1

    data = ROOT / "build" / "bench-data"
    table, facts = cached_file(data / f"realistic-{args.size_mib}MiB.qb", GENERATOR_VERSION,
                               "table_bytes", lambda path: generate(path, args.size_mib * MIB))
    listing_bytes = facts["listing_bytes"]
    outputs = {"qbdump": data / "out-qbdump.dbg", "floor": data / "out-floor.dbg"}
    commands = {
        "qbdump": [str(qbdump), str(table), str(outputs["qbdump"])],
        "floor": [str(floor), str(table), str(outputs["floor"]), str(listing_bytes)],
    }

    def one_run(name: str) -> tuple[float, int, float, float]:
        outputs[name].unlink(missing_ok=True)
        os.sync()  # earlier runs' write-back must not land inside this one
        elapsed, status, rss, user, system = run(commands[name], data / "usage.txt")
        if status != 0:
            raise SystemExit(f"{name} failed with exit status {status}")
        return elapsed, rss, user, system

    for name in commands:  # warm-up, and a check of the listing's size
        one_run(name)
        got = outputs[name].stat().st_size
        if got != listing_bytes:
            raise SystemExit(f"{name} wrote {got} bytes, expected {listing_bytes}")

    times = {name: [] for name in commands}
    cpu = {name: ([], []) for name in commands}
    peaks = {name: 0 for name in commands}
    for _ in range(args.runs):
        for name in commands:
            elapsed, rss, user, system = one_run(name)
            times[name].append(elapsed)
            cpu[name][0].append(user)
            cpu[name][1].append(system)
            peaks[name] = max(peaks[name], rss)
    for path in list(outputs.values()) + [data / "usage.txt"]:
        path.unlink(missing_ok=True)

    print(f"table {facts['table_bytes'] / MIB:.1f} MiB ({facts['entries']} entries), listing "
          f"{listing_bytes / MIB:.1f} MiB, {args.runs} runs each after a warm-up; load average: "
          f"{', '.join(f'{load:.2f}' for load in os.getloadavg())}")
    print(f"{'':8} {'median s':>9} {'min s':>7} {'max s':>7} {'user s':>7} {'sys s':>7} "
          f"{'peak RSS MiB':>13}")
    medians = {}
    for name in commands:
        medians[name] = statistics.median(times[name])
        print(f"{name:8} {medians[name]:9.3f} {min(times[name]):7.3f} {max(times[name]):7.3f} "
              f"{statistics.median(cpu[name][0]):7.2f} {statistics.median(cpu[name][1]):7.2f} "
              f"{peaks[name] / MIB:13.1f}")
    ratio = medians["qbdump"] / medians["floor"]
    print(f"ratio qbdump/floor: {ratio:.2f} of the medians, "
          f"{min(times['qbdump']) / min(times['floor']):.2f} of the best runs "
          f"(goal: at most 1.5)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
