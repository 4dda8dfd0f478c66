#!/usr/bin/env python3
"""The code examples of the project's Markdown pages, for the .ci scripts to
run as they stand in the pages.

    doc_examples.py check              every fenced block is one the scripts
                                       run, or is marked not to be run
    doc_examples.py extract LANG DIR   each LANG block into DIR/<page>-<n>.<ext>,
                                       naming the files on standard output

A block's info string is its language, then, for a block that is not run as
it stands (shell commands that install or build, snippets of other tools'
files), the word "no-run"; Markdown shows the language alone. Blocks without
an info string are output or file contents shown, not code.
"""

import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PAGES = ["README.md", *sorted(str(p.relative_to(ROOT)) for p in (ROOT / "doc").glob("*.md")),
         "web/README.md"]
# The languages the scripts run, and the extension each is written with.
RUN = {"python": "py", "c": "c", "csharp": "cs", "js": "mjs", "xml": "xml"}
FENCE = re.compile(r"^(\s*)```(.*)$")


def blocks():
    """(page, number, language, words, text) for each fenced block."""
    for page in PAGES:
        lines = (ROOT / page).read_text(encoding="utf-8").splitlines()
        k = 0
        number = 0
        while k < len(lines):
            opened = FENCE.match(lines[k])
            if not opened:
                k += 1
                continue
            indent, info = opened.group(1), opened.group(2).split()
            body = []
            k += 1
            while not re.match(r"^\s*```\s*$", lines[k]):
                body.append(lines[k][len(indent):] if lines[k].startswith(indent) else lines[k])
                k += 1
            k += 1
            number += 1
            yield page, number, (info[0] if info else ""), info[1:], "\n".join(body) + "\n"


def main(argv):
    if argv[:1] == ["check"]:
        wrong = [f"{page}: block {n} ({language}): no script runs it; mark it no-run if none can"
                 for page, n, language, words, _ in blocks()
                 if language and language not in RUN and "no-run" not in words]
        # Shell blocks not run are at least valid shell.
        for page, n, language, _, text in blocks():
            if language == "sh" and subprocess.run(["bash", "-n"], input=text.encode(),
                                                   check=False).returncode != 0:
                wrong.append(f"{page}: block {n} (sh): not valid shell")
        for line in wrong:
            print(line, file=sys.stderr)
        counted = {}
        for _, _, language, words, _ in blocks():
            key = "no-run" if "no-run" in words else (language or "shown output")
            counted[key] = counted.get(key, 0) + 1
        print(", ".join(f"{count} {key}" for key, count in sorted(counted.items())))
        return 1 if wrong else 0
    if len(argv) == 3 and argv[0] == "extract":
        language, folder = argv[1], Path(argv[2])
        folder.mkdir(parents=True, exist_ok=True)
        for page, n, found, words, text in blocks():
            if found == language and "no-run" not in words:
                name = folder / f"{page.replace('/', '_').removesuffix('.md')}-{n}.{RUN[language]}"
                name.write_text(text, encoding="utf-8")
                print(name)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
