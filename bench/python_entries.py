#!/usr/bin/env python3
"""Times dbgparse.entries() (the Python package) reading a table against
`qbdump --check` reading the same one.

Generates a realistic QB table (27 MiB by default, about a million entries:
names of 5 to 40 identifier bytes) under build/bench-data/, as
compare_qbdump.py does, then alternately, after one warm-up run of each:
  qbdump       `qbdump --check TABLE`, the whole process
  python       a Python process that imports dbgparse, reads the file and
               calls dbgparse.entries() on it: the whole process, and inside
               it the entries() call alone, and as the floor of any list of
               a tuple per entry, struct.iter_unpack making as many 4-tuples
  ctypes       with --ctypes: examples/qbtool.py listing the table through
               libdbgparse.so.2 loaded by ctypes, to /dev/null
Prints each one's median and best wall time and CPU times.

Usage: bench/python_entries.py --python VENV/bin/python [--build build/release]
                               [--size-mib 27] [--runs 5] [--ctypes]
The Python given must have the package installed (doc/python.md).
"""

import argparse
import os
import statistics
import subprocess
import sys
from pathlib import Path

from bench_common import cached_file, run
from compare_qbdump import GENERATOR_VERSION, MIB, generate

ROOT = Path(__file__).resolve().parent.parent

# What the timed Python process does; it prints the entries() call's seconds.
# What the timed Python process does; it prints the entries() call's seconds,
# then those of the floor: as many 4-tuples of integers made by
# struct.iter_unpack, the least any list of a tuple per entry costs.
READER = """
import struct, sys, time
import dbgparse
with open(sys.argv[1], "rb") as file:
    table = file.read()
start = time.perf_counter()
found = dbgparse.entries(table)
elapsed = time.perf_counter() - start
count = len(found)
if count != int(sys.argv[2]):
    sys.exit(f"{count} entries, expected {sys.argv[2]}")
del found
start = time.perf_counter()
floor = list(struct.iter_unpack("<IIII", table[:16 * count]))
print(elapsed, time.perf_counter() - start)
"""


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--python", type=Path, required=True)
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "release")
    parser.add_argument("--size-mib", type=int, default=27)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--ctypes", action="store_true")
    args = parser.parse_args()

    qbdump = args.build / "qbdump"
    library = args.build / "lib" / "libdbgparse.so.2"
    if not os.access(qbdump, os.X_OK):
        print(f"missing {qbdump}: build the release preset first", file=sys.stderr)
        return 1
    version = subprocess.run([str(args.python), "-c", "import dbgparse; print(dbgparse.__version__)"],
                             capture_output=True, text=True, check=False)
    if version.returncode != 0:
        print(f"{args.python} cannot import dbgparse: install bindings/python first",
              file=sys.stderr)
        return 1

    data = ROOT / "build" / "bench-data"
    table, facts = cached_file(data / f"realistic-{args.size_mib}MiB.qb", GENERATOR_VERSION,
                               "table_bytes", lambda path: generate(path, args.size_mib * MIB))
    entries = facts["entries"]
    reader = data / "python_entries_reader.py"
    reader.write_text(READER)
    commands = {
        "qbdump": [str(qbdump), "--check", str(table)],
        "python": [str(args.python), str(reader), str(table), str(entries)],
    }
    if args.ctypes:
        commands["ctypes"] = [sys.executable, str(ROOT / "examples" / "qbtool.py"), str(library),
                              "list", str(table)]
    usage = data / "usage.txt"
    inner = []

    def one_run(name: str) -> tuple[float, float, float]:
        if name == "python":
            # Its own figure of the call alone comes on standard output.
            out = data / "python_entries.out"
            command = ["sh", "-c", '"$@" >"$0"', str(out)] + commands[name]
            elapsed, status, _, user, system = run(command, usage)
            if status == 0:
                inner.append(tuple(float(figure) for figure in out.read_text().split()))
        else:
            elapsed, status, _, user, system = run(commands[name], usage)
        if status != 0:
            raise SystemExit(f"{name} failed with exit status {status}")
        return elapsed, user, system

    for name in commands:  # warm-up
        one_run(name)
    inner.clear()
    figures = {name: ([], [], []) for name in commands}
    for _ in range(args.runs):
        for name in commands:
            for series, value in zip(figures[name], one_run(name)):
                series.append(value)
    for path in (reader, usage, data / "python_entries.out"):
        path.unlink(missing_ok=True)

    print(f"table {facts['table_bytes'] / MIB:.1f} MiB, {entries} entries; dbgparse "
          f"{version.stdout.strip()} in {args.python}; {args.runs} runs each after a warm-up; "
          f"load average: {', '.join(f'{load:.2f}' for load in os.getloadavg())}")
    print(f"{'':28} {'median s':>9} {'min s':>7} {'max s':>7} {'user s':>7} {'sys s':>7}")
    for name, (times, user, system) in figures.items():
        label = {"qbdump": "qbdump --check (process)", "python": "Python (process)",
                 "ctypes": "qbtool.py list, ctypes"}[name]
        print(f"{label:28} {statistics.median(times):9.3f} {min(times):7.3f} {max(times):7.3f} "
              f"{statistics.median(user):7.2f} {statistics.median(system):7.2f}")
    for k, label in enumerate(["dbgparse.entries() alone", "floor: as many 4-tuples"]):
        series = [figures_of_run[k] for figures_of_run in inner]
        print(f"{label:28} {statistics.median(series):9.3f} {min(series):7.3f} "
              f"{max(series):7.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
