#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UBSan (preset "sanitize") and
# runs the whole test suite under them, the process-level tests and the
# fuzz corpus replay included. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize
