#!/usr/bin/env python3
"""Counts the instructions of three fixed conversions under valgrind's
callgrind and holds them to the baselines in bench/instruction_baselines.json.

  convert               dbgparse_convert on a generated 16 MiB realistic
                        input, in-process (bench/count_conversion.c), to a
                        sink that only counts the bytes: the call alone,
                        reading the file left out (--toggle-collect)
  convert_and_diagnose  dbgparse_convert_and_diagnose on the same input, the
                        same sink and a warning sink that only counts
  program               the whole dbgparse process, start to exit, every
                        thread, converting a generated 1 MiB realistic input
                        to a new output file, standard input /dev/null

The counts do not depend on whatever else the machine is doing, so a small
slowdown shows where timings would drown it: --check fails when a count is
more than 3% above its baseline, and notes one more than 3% below (update
the baseline to keep the gain). The inputs are those of bench/compare.py (a
fixed seed), checked against the hash the baselines were counted on. The
program runs with a minimal environment, in a folder made for the run whose
path has the same length wherever the tree is, on copies of itself and of
its input, so that its arguments are the same bytes on every run.

The two in-process counts are the same on every run. The program's varies
by some dozens of instructions in 8 million, all of them in drawing its
temporary output's random name (the seed steers std::mt19937_64 and the
name's leading zeros snprintf), and by a few more when the process number
gains a digit.

Usage: bench/instruction_counts.py --check | --update [--build build/bench]
Build first with: cmake --preset bench && cmake --build --preset bench
"""

import argparse
import hashlib
import json
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no bench/__pycache__ left in the tree by the imports below
from bench_common import cached_file  # noqa: E402
from compare import GENERATOR_VERSION, MIB, generate  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
BASELINES = ROOT / "bench" / "instruction_baselines.json"
LIMIT = 0.03  # how far above its baseline a count may go
# All the environment that valgrind and the program get: none of the
# caller's (VALGRIND_OPTS, HOME and its .valgrindrc included).
ENVIRONMENT = {"LC_ALL": "C"}

FIGURES = {
    "convert": "instructions in dbgparse_convert converting the 16 MiB realistic input "
               "in-process to a sink that only counts the bytes (bench/count_conversion.c)",
    "convert_and_diagnose": "instructions in dbgparse_convert_and_diagnose converting the same "
                            "input with the same sink and a warning sink that only counts",
    "program": "instructions of the whole dbgparse process, start to exit, converting the 1 MiB "
               "realistic input to a new output file, standard input /dev/null",
}
INPUT_MIB = {"convert": 16, "convert_and_diagnose": 16, "program": 1}


def realistic_input(mib: int) -> tuple[Path, dict]:
    """bench/compare.py's realistic input of `mib` MiB, kept under build/."""
    path = ROOT / "build" / "bench-data" / f"realistic-{mib}MiB.dbg"
    return cached_file(path, GENERATOR_VERSION, "input_bytes",
                       lambda out: generate(out, mib * MIB))


def callgrind(command: list[str], work: Path, toggle: str | None = None) -> tuple[int, str]:
    """The instructions that callgrind collects running `command` in `work`
    (all of them, or those inside `toggle` and its callees), and the
    command's standard output."""
    out_file = work / "callgrind.out"
    options = ["--tool=callgrind", "--trace-children=no", f"--callgrind-out-file={out_file}"]
    if toggle:
        options.append(f"--toggle-collect={toggle}")
    result = subprocess.run([shutil.which("valgrind") or "valgrind"] + options + command,
                            cwd=work, env=ENVIRONMENT, stdin=subprocess.DEVNULL,
                            capture_output=True, text=True)
    out_file.unlink(missing_ok=True)
    collected = re.search(r"Collected : (\d+)", result.stderr)
    if result.returncode != 0 or not collected:
        raise SystemExit(f"{' '.join(command)} failed under callgrind (exit status "
                         f"{result.returncode}):\n{result.stdout}{result.stderr}")
    return int(collected.group(1)), result.stdout


def count_in_process(name: str, count_conversion: Path, work: Path) -> tuple[int, dict]:
    """The count of one way of count_conversion, and its input's facts."""
    dbg, facts = realistic_input(INPUT_MIB[name])
    instructions, printed = callgrind([str(count_conversion), name, str(dbg)], work,
                                      toggle=f"dbgparse_{name}")
    table_bytes, warnings = (int(field) for field in printed.split())
    if table_bytes != facts["table_bytes"]:
        raise SystemExit(f"{name}: a table of {table_bytes} bytes, expected "
                         f"{facts['table_bytes']}")
    if instructions == 0:
        raise SystemExit(f"{name}: nothing counted: is dbgparse_{name} still a function of "
                         f"its own in {count_conversion}?")
    return instructions, {"warnings": warnings}


def count_program(program: Path, work: Path) -> tuple[int, dict]:
    """The count of the whole program, run on copies of itself and of its
    input in `work`, under names relative to it."""
    dbg, facts = realistic_input(INPUT_MIB["program"])
    shutil.copyfile(dbg, work / "in.dbg")
    shutil.copy(program, work / "dbgparse")
    output = work / "out.qb"
    output.unlink(missing_ok=True)  # a new output every run, never a replaced one
    instructions, _ = callgrind(["./dbgparse", "in.dbg", "out.qb"], work)
    if output.stat().st_size != facts["table_bytes"]:
        raise SystemExit(f"program: a table of {output.stat().st_size} bytes, expected "
                         f"{facts['table_bytes']}")
    output.unlink()
    return instructions, {}


def input_of(name: str) -> dict:
    """What identifies the input of figure `name`."""
    dbg, _ = realistic_input(INPUT_MIB[name])
    return {"file": dbg.name, "bytes": dbg.stat().st_size,
            "sha256": hashlib.sha256(dbg.read_bytes()).hexdigest()}


def toolchain(build: Path) -> dict:
    """The valgrind and the compiler the counts come from: counts from
    others differ, if only a little."""
    valgrind = subprocess.run(["valgrind", "--version"], capture_output=True, text=True,
                              check=True).stdout.strip()
    compiler = "unknown"
    for found in sorted(build.glob("CMakeFiles/*/CMakeCXXCompiler.cmake")):
        text = found.read_text()
        kind = re.search(r'set\(CMAKE_CXX_COMPILER_ID "([^"]*)"\)', text)
        version = re.search(r'set\(CMAKE_CXX_COMPILER_VERSION "([^"]*)"\)', text)
        if kind and version:
            compiler = f"{kind.group(1)} {version.group(1)}"
    return {"valgrind": valgrind, "compiler": compiler}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    what = parser.add_mutually_exclusive_group(required=True)
    what.add_argument("--check", action="store_true",
                      help="fail when a count is more than 3%% above its baseline")
    what.add_argument("--update", action="store_true",
                      help=f"write the counts to {BASELINES.relative_to(ROOT)}")
    parser.add_argument("--build", type=Path, default=ROOT / "build" / "bench")
    args = parser.parse_args()

    program = args.build / "dbgparse"
    count_conversion = args.build / "bench" / "count_conversion"
    for needed in (program, count_conversion):
        if not needed.exists():
            print(f"missing {needed}: build the bench preset first", file=sys.stderr)
            return 1
    if shutil.which("valgrind") is None:
        print("valgrind is missing (Debian package valgrind)", file=sys.stderr)
        return 1
    if args.check and not BASELINES.exists():
        print(f"missing {BASELINES}: write it with --update", file=sys.stderr)
        return 1
    baselines = json.loads(BASELINES.read_text()) if args.check else None
    for name in FIGURES:
        realistic_input(INPUT_MIB[name])  # generated before the counting starts

    start = time.monotonic()
    counts = {}
    # /tmp/dbgparse-counts-XXXXXXXX: the same length on every run, wherever
    # the tree is, for the program turns its relative names into absolute ones.
    work = Path(tempfile.mkdtemp(prefix="dbgparse-counts-", dir="/tmp"))
    try:
        for name in FIGURES:
            if name == "program":
                counts[name] = count_program(program, work)
            else:
                counts[name] = count_in_process(name, count_conversion, work)
    finally:
        shutil.rmtree(work)
    took = time.monotonic() - start

    if args.update:
        before = json.loads(BASELINES.read_text())["figures"] if BASELINES.exists() else {}
        figures = {}
        for name, (instructions, extra) in counts.items():
            figures[name] = {"instructions": instructions, "what": FIGURES[name],
                             "input": input_of(name)} | extra
        BASELINES.write_text(json.dumps({
            "about": "Instruction counts under valgrind's callgrind that "
                     "`python3 bench/instruction_counts.py --check` holds the tree to: a count "
                     "more than 3% above its baseline fails. Written by "
                     "`python3 bench/instruction_counts.py --update`.",
            "counted_with": toolchain(args.build),
            "figures": figures,
        }, indent=2) + "\n")
        print(f"{'figure':22} {'instructions':>14} {'was':>14} {'change':>8}")
        for name, (instructions, _) in counts.items():
            was = before.get(name, {}).get("instructions")
            was_text = f"{was:,}" if was else "none"
            change = f"{(instructions / was - 1) * 100:+7.2f}%" if was else ""
            print(f"{name:22} {instructions:>14,} {was_text:>14} {change:>8}")
        print(f"wrote {BASELINES.relative_to(ROOT)} ({took:.1f} s of counting)")
        return 0

    print(f"{'figure':22} {'instructions':>14} {'baseline':>14} {'ratio':>7} {'change':>8}")
    failures, gains = [], []
    for name, (instructions, _) in counts.items():
        baseline = baselines["figures"][name]
        expected = baseline["instructions"]
        ratio = instructions / expected
        print(f"{name:22} {instructions:>14,} {expected:>14,} {ratio:7.4f} "
              f"{(ratio - 1) * 100:+7.2f}%")
        if input_of(name)["sha256"] != baseline["input"]["sha256"]:
            failures.append(f"{name}: its input is not the one its baseline was counted on "
                            f"(bench/compare.py's generator changed?), so the two cannot be "
                            f"compared: count again with --update")
        elif ratio > 1 + LIMIT:
            failures.append(f"{name}: {instructions:,} instructions, {(ratio - 1) * 100:.1f}% "
                            f"above its baseline of {expected:,} (at most {LIMIT:.0%} allowed)")
        elif ratio < 1 - LIMIT:
            gains.append(f"{name}: {instructions:,} instructions, {(1 - ratio) * 100:.1f}% "
                         f"below its baseline of {expected:,}")
    print(f"{took:.1f} s of counting")
    ours = toolchain(args.build)
    if ours != baselines["counted_with"] and (failures or gains):
        print(f"note: the baselines were counted with {baselines['counted_with']}, these with "
              f"{ours}; some of the difference may come from there")
    for gain in gains:
        print(f"note: {gain}: keep the gain with `python3 bench/instruction_counts.py "
              f"--update`, in the commit that made it")
    sys.stdout.flush()  # the figures before the failures, in a log of both
    for failure in failures:
        print(f"FAIL {failure}", file=sys.stderr)
    if failures:
        print("A commit that makes a count more than 3% higher updates the baseline with "
              "`python3 bench/instruction_counts.py --update` in the same commit, and its "
              "message says why (doc/performance.md).", file=sys.stderr)
        return 1
    print(f"every count within {LIMIT:.0%} above its baseline")
    return 0


if __name__ == "__main__":
    sys.exit(main())
