#!/usr/bin/env bash
# The Python package as its users get it: doc/python.md's two lines (a fresh
# virtual environment, pip install ./bindings/python) with Debian's Python,
# then its tests against the release programs. Then the wheel and the sdist
# that `python3 -m build` makes: the wheel installed into a second fresh
# environment passes the same tests, and the sdist holds the library's
# sources, so that it builds on its own.
set -euo pipefail
cd "$(dirname "$0")/.."

python=/usr/bin/python3
packages=(python3-dev python3-venv python3-pip python3-setuptools python3-wheel python3-pytest
  python3-build g++)
source .ci/install_missing.sh
install_missing "${packages[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "--- the release programs, to compare with"
cmake --preset release >/dev/null
cmake --build --preset release
export DBGPARSE_BUILD=$PWD/build/release

# The tests import whatever `dbgparse` the environment has: the package keeps
# its sources under src/, out of the way. pytest must find tests (exit
# status 5 is none found).
run_tests() {
  local venv=$1
  "$venv/bin/python" -m pytest -q -p no:cacheprovider bindings/python/tests
  "$venv/bin/python" -c 'import dbgparse, sys; sys.exit("dbgparse imported from the source tree" if "/bindings/python/" in dbgparse.__file__ else 0)'
}

echo "--- the extension under the project's warnings (Python's headers as system ones)"
include=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
g++ -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow \
  -Wold-style-cast -Werror -DDBGPARSE_STATIC -Ilib/include -isystem "$include" \
  bindings/python/src/dbgparse/_dbgparse.cpp

echo "--- doc/python.md's two lines: a fresh environment, pip install ./bindings/python"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-build-isolation ./bindings/python
run_tests "$work/venv"

echo "--- doc/python.md's example, run in a folder with a names.dbg"
mkdir "$work/example"
cp tests/data/checksum_line_inside_text.dbg "$work/example/names.dbg"
for example in $("$python" tests/support/doc_examples.py extract python "$work/example"); do
  (cd "$work/example" && "$work/venv/bin/python" -X dev -W error "$(basename "$example")" >/dev/null 2>"$work/example-stderr")
  if [ -s "$work/example-stderr" ]; then cat "$work/example-stderr" >&2; exit 1; fi
done

echo "--- python3 -m build: a wheel and an sdist"
# From a copy of the package beside a copy of lib/, as in a clone, so that
# the build's copies stay out of the work tree.
mkdir -p "$work/source/bindings"
cp -r lib LICENSE "$work/source/"
cp -r bindings/python "$work/source/bindings/"
rm -rf "$work/source/bindings/python/libsrc" "$work/source/bindings/python/build"
"$python" -m build --no-isolation --sdist --wheel --outdir "$work/dist" "$work/source/bindings/python" \
  >"$work/build.log" 2>&1 || {
  cat "$work/build.log" >&2
  exit 1
}
ls "$work/dist"
sdist=("$work"/dist/dbgparse-*.tar.gz)
wheel=("$work"/dist/dbgparse-*.whl)
# (Listings whole into grep: grep -q would stop them early, which pipefail counts.)
tar -tzf "${sdist[0]}" | grep '/libsrc/include/dbgparse.h$' >/dev/null || {
  echo "the sdist lacks the library's sources" >&2
  exit 1
}
"$python" -m zipfile -l "${wheel[0]}" | grep 'dbgparse/py.typed' >/dev/null || {
  echo "the wheel lacks py.typed" >&2
  exit 1
}

echo "--- the wheel in a second fresh environment"
"$python" -m venv --system-site-packages "$work/venv-wheel"
"$work/venv-wheel/bin/pip" install --no-index --quiet "${wheel[0]}"
run_tests "$work/venv-wheel"

echo "--- the sdist alone, built without the repository"
mkdir "$work/alone"
tar -xzf "${sdist[0]}" -C "$work/alone"
"$python" -m venv --system-site-packages "$work/venv-sdist"
"$work/venv-sdist/bin/pip" install --no-build-isolation --no-index --quiet "$work"/alone/dbgparse-*/
"$work/venv-sdist/bin/python" -c 'import dbgparse; assert dbgparse.entries(dbgparse.convert(b"[Checksums]\r\n0x0000002a a\r\n"))[0].checksum == 42'
echo "python: all checks passed"
