#!/usr/bin/env bash
# Fails on anything clang-tidy reports in the program and its tests (the
# Windows-only files need the Windows headers and are left to that build).
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/debug/compile_commands.json ] || cmake --preset debug >/dev/null
git ls-files -z 'lib/*.cpp' 'platform/*.cpp' 'programs/*.cpp' 'tests/*.cpp' 'fuzz/*.cpp' 'bench/*.cpp' |
  grep -z -v -E '_windows\.cpp$|^platform/windows/|^bench/|^fuzz/fuzz_' |
  xargs -0 -n 4 -P 2 clang-tidy -p build/debug --quiet --warnings-as-errors='*' 2>&1 |
  { grep -v -E '^[0-9]+ warnings? generated\.$' || true; }
