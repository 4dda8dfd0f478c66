"""What the side-by-side timing scripts share: a generated input kept under
build/ between runs, and one process timed with its CPU time and peak memory.
"""

import json
import os
import subprocess
import time
from pathlib import Path
from typing import Callable

GNU_TIME = Path("/usr/bin/time")


def cached_file(path: Path, version: int, size_key: str,
                generate: Callable[[Path], dict]) -> tuple[Path, dict]:
    """The file at `path`, made by `generate` (which returns its facts, among
    them `version` and its size under `size_key`) unless an earlier run left
    one of this version and size."""
    path.parent.mkdir(parents=True, exist_ok=True)
    facts_path = path.with_suffix(".json")
    try:
        facts = json.loads(facts_path.read_text())
        if facts.get("version") == version and path.stat().st_size == facts[size_key]:
            return path, facts
    except (OSError, ValueError, KeyError):
        pass
    print(f"generating {path} ...", flush=True)
    facts = generate(path)
    facts_path.write_text(json.dumps(facts))
    return path, facts


def run(command: list[str], usage_file: Path) -> tuple[float, int, int, float, float]:
    """Runs one process; returns wall seconds, exit status, peak RSS in bytes,
    and user and system CPU seconds.

    The figures come from GNU time when it is there: a child's ru_maxrss also
    counts the memory of the process it was forked from, and this script's
    own is larger than a small run's."""
    if GNU_TIME.exists():
        command = [str(GNU_TIME), "-f", "%M %U %S", "-o", str(usage_file)] + command
    start = time.perf_counter()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    peak_kib, user, system = usage.ru_maxrss, usage.ru_utime, usage.ru_stime
    if GNU_TIME.exists():
        fields = usage_file.read_text().split()[-3:]
        peak_kib, user, system = int(fields[0]), float(fields[1]), float(fields[2])
    return elapsed, os.waitstatus_to_exitcode(status), peak_kib * 1024, user, system
