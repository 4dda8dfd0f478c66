#!/usr/bin/env bash
# libdbgparse as a program outside the project uses it. A release build is
# installed into a temporary prefix; the example qbtool (examples/qbtool.c)
# is built against that prefix through pkg-config and through find_package,
# each with the shared and with the static library, and examples/qbtool.py
# loads the shared library through Python's ctypes. On the golden files, the
# fuzz corpus and hundreds of generated hostile DBG files every tool's tables
# (through dbgparse_convert and dbgparse_convert_to) must be dbgparse's byte
# for byte, and on good, cut and damaged tables qbtool's listing must end as
# `qbdump --check` does: the same entry count, or the same fault offset and
# text. The shared library must export dbgparse_* and nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source .ci/installed_release.sh
install_release "$work"

echo "--- nm -D --defined-only $(basename "$(readlink -f "$shared")")"
symbols=$(nm -D --defined-only "$shared")
printf '%s\n' "$symbols"
if awk '{ print $NF }' <<<"$symbols" | grep -v '^dbgparse_'; then
  echo "the shared library exports more than dbgparse_*" >&2
  exit 1
fi

echo "--- qbtool through pkg-config and through find_package"
export PKG_CONFIG_PATH=$libdir/pkgconfig
strict=(-std=c99 -Wall -Wextra -Wpedantic -Werror)
cc "${strict[@]}" examples/qbtool.c $(pkg-config --cflags --libs dbgparse) -o "$work/qbtool-pc"
# The static library through its own pkg-config file, as doc/library.md says.
cc "${strict[@]}" examples/qbtool.c $(pkg-config --cflags --libs dbgparse-static) \
  -o "$work/qbtool-pc-static"
for linking in shared static; do
  static=$([ "$linking" = static ] && echo ON || echo OFF)
  cmake -S examples -B "$work/cmake-$linking" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DQBTOOL_STATIC="$static" -DCMAKE_C_FLAGS="${strict[*]}" >/dev/null
  cmake --build "$work/cmake-$linking" >/dev/null
  cp "$work/cmake-$linking/qbtool" "$work/qbtool-cmake-$linking"
done
export LD_LIBRARY_PATH=$libdir
tools=("$work"/qbtool-*)
# Each build links the library it was meant to.
for tool in "${tools[@]}"; do
  needs=$(ldd "$tool")
  case $(basename "$tool") in
    *-static) linked=$(grep -c 'libdbgparse\.so' <<<"$needs" || true) want=0 ;;
    *) linked=$(grep -c 'libdbgparse\.so\.2 => ' <<<"$needs" || true) want=1 ;;
  esac
  if [ "$linked" != "$want" ]; then
    printf '%s links the wrong library:\n%s\n' "$(basename "$tool")" "$needs" >&2
    exit 1
  fi
  echo "$(basename "$tool"): $([ "$want" = 1 ] && echo libdbgparse.so.2 || echo libdbgparse.a)"
done
python=(python3 examples/qbtool.py "$shared")

echo "--- tables against dbgparse's"
mkdir "$work/hostile" "$work/damaged" "$work/out"
# Hostile DBG files: the pieces of checksum lines, line ends, signs, zero
# bytes and long names thrown together at random (the same ones each run).
python3 tests/support/generated_inputs.py hostile "$work/hostile" 13
inputs=(tests/data/*.dbg fuzz/corpus/* "$work"/hostile/*.dbg)
checked=0
for input in "${inputs[@]}"; do
  expected=$work/out/$checked.qb
  "$dbgparse" "$input" "$expected" </dev/null >/dev/null 2>&1
  for tool in "${tools[@]}"; do
    for mode in convert convert-to; do
      "$tool" "$mode" "$input" "$work/got.qb"
      cmp "$expected" "$work/got.qb"
    done
  done
  checked=$((checked + 1))
done
for input in tests/data/*.dbg fuzz/corpus/*; do
  "$dbgparse" "$input" "$work/expected.qb" </dev/null >/dev/null 2>&1
  for mode in convert convert-to; do
    "${python[@]}" "$mode" "$input" "$work/got.qb"
    cmp "$work/expected.qb" "$work/got.qb"
  done
done
echo "$checked inputs: ${#tools[@]} C builds x 2 conversions, identical to dbgparse (Python: the golden files and the corpus)"

echo "--- listings against qbdump --check"
# Cut and damaged copies of the tables just made.
python3 tests/support/generated_inputs.py damaged "$work/out" "$work/damaged" 13
# What qbdump --check says of a table, and what a qbtool listing says.
check() {
  local said status=0
  said=$("$qbdump" --check "$1" 2>&1) || status=$?
  if [ "$status" = 0 ]; then
    echo "$(sed -E 's/^([0-9]+) entr(y|ies),.*/\1/' <<<"$said") entries"
  else
    # Its first line: a hint that the file looks like DBG text may follow.
    said=${said%%$'\n'*}
    echo "${said#"qbdump: $1: "}"
  fi
}
listing() {
  local lines status=0
  lines=$("$@" 2>"$work/fault") || status=$?
  if [ "$status" = 0 ]; then
    echo "$(printf '%s' "$lines" | grep -c '^0x' || true) entries"
  else
    sed 's/^qbtool: //' "$work/fault"
  fi
}
tables=(tests/data/*.qb fuzz/corpus_tables/* "$work"/out/*.qb "$work"/damaged/*.qb)
faults=0
for table in "${tables[@]}"; do
  expected=$(check "$table")
  for tool in "${tools[@]}"; do
    got=$(listing "$tool" list "$table")
    if [ "$got" != "$expected" ]; then
      printf '%s on %s: "%s", qbdump --check: "%s"\n' "$(basename "$tool")" "$table" "$got" "$expected" >&2
      exit 1
    fi
  done
  case $expected in *expected*) faults=$((faults + 1)) ;; esac
done
for table in tests/data/*.qb fuzz/corpus_tables/* "$work"/damaged/0[0-4]?.qb; do
  [ "$(listing "${python[@]}" list "$table")" = "$(check "$table")" ]
done
echo "${#tables[@]} tables, $faults of them malformed: every listing ends as qbdump --check says"
echo "--- the pages' code examples: every block run by a check or marked no-run; C compiled"
python3 tests/support/doc_examples.py check
for example in $(python3 tests/support/doc_examples.py extract c "$work/examples"); do
  cc "${strict[@]}" -c "$example" $(pkg-config --cflags dbgparse) -o "$work/example.o"
done
for example in $(python3 tests/support/doc_examples.py extract xml "$work/examples"); do
  python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$example"
done
echo "libdbgparse: all checks passed"
