#!/usr/bin/env bash
# The C# wrapper (bindings/csharp/Dbgparse.cs) as a C# program uses it:
# compiled with Debian's Mono together with its test program
# (bindings/csharp/tests/DbgparseTest.cs), and run against the
# libdbgparse.so.2 of a release build installed into a temporary prefix.
# Mono finds the library through a dllmap ("dbgparse" to libdbgparse.so.2)
# in the program's .config file and LD_LIBRARY_PATH. The wrapper's own table
# of cases must pass; on the golden files, the fuzz corpus and generated
# hostile DBG files its tables and warnings must be dbgparse's, and on good,
# cut and damaged tables its entries must end as `qbdump --check` says.
set -euo pipefail
cd "$(dirname "$0")/.."

source .ci/install_missing.sh
install_missing mono-mcs mono-runtime python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source .ci/installed_release.sh
install_release "$work"

echo "--- mcs: the wrapper and its test program"
test_program=$work/DbgparseTest.exe
mcs -nologo -warnaserror+ -out:"$test_program" bindings/csharp/Dbgparse.cs \
  bindings/csharp/tests/DbgparseTest.cs
cat >"$test_program.config" <<'XML'
<configuration>
  <dllmap dll="dbgparse" os="!windows" target="libdbgparse.so.2"/>
</configuration>
XML
export LD_LIBRARY_PATH
LD_LIBRARY_PATH=$(dirname "$shared")
csharp() { mono "$test_program" "$@"; }
csharp cases

echo "--- doc/csharp.md's example and its dllmap, as they stand in the page"
mkdir "$work/example"
cp tests/data/checksum_line_inside_text.dbg "$work/example/names.dbg"
python3 tests/support/doc_examples.py extract csharp "$work/example" >"$work/example-sources"
config=$(python3 tests/support/doc_examples.py extract xml "$work/example")
mcs -nologo -warnaserror+ -out:"$work/example/Program.exe" bindings/csharp/Dbgparse.cs \
  $(cat "$work/example-sources")
cp "$config" "$work/example/Program.exe.config"
(cd "$work/example" && LD_LIBRARY_PATH=$(dirname "$shared") mono Program.exe >/dev/null)

echo "--- tables and warnings against dbgparse's"
mkdir "$work/hostile" "$work/damaged" "$work/dbgparse" "$work/csharp"
python3 tests/support/generated_inputs.py hostile "$work/hostile" 25
inputs=(tests/data/*.dbg fuzz/corpus/* "$work"/hostile/*.dbg)
k=0
for input in "${inputs[@]}"; do
  "$dbgparse" "$input" "$work/dbgparse/$k.qb" </dev/null >/dev/null 2>>"$work/dbgparse-warnings"
  k=$((k + 1))
done
csharp convert "$work/csharp" "${inputs[@]}"
for ((k = 0; k < ${#inputs[@]}; k++)); do
  cmp "$work/dbgparse/$k.qb" "$work/csharp/$k.qb"
done
csharp diagnose "${inputs[@]}" >"$work/csharp-warnings"
diff "$work/dbgparse-warnings" "$work/csharp-warnings"
echo "${#inputs[@]} inputs: tables identical to dbgparse's, $(wc -l <"$work/csharp-warnings") warning lines as it prints them"

echo "--- entries against qbdump --check"
python3 tests/support/generated_inputs.py damaged "$work/dbgparse" "$work/damaged" 25
tables=(tests/data/*.qb fuzz/corpus_tables/* "$work"/dbgparse/*.qb "$work"/damaged/*.qb)
# qbdump --check names each table when given several: "TABLE: N entries, M
# bytes" on standard output or "qbdump: TABLE: byte N: expected ..." on
# standard error, with at most a hint after it.
"$qbdump" --check "${tables[@]}" >"$work/check-out" 2>"$work/check-err" || true
{
  sed -E 's/^(.*): ([0-9]+) entr(y|ies),.*/\1: \2 entries/' "$work/check-out"
  sed -n -E 's/^qbdump: (.*: byte [0-9]+: expected .*)/\1/p' "$work/check-err"
} | sort >"$work/qbdump-says"
csharp check "${tables[@]}" | sort >"$work/csharp-says"
diff "$work/qbdump-says" "$work/csharp-says"
echo "${#tables[@]} tables, $(grep -c ': byte ' "$work/csharp-says") of them malformed: entries and faults as qbdump --check says"
echo "--- listings against qbdump's"
# And tables that leave out more entries than qbdump names (names holding CR).
python3 - "$work/damaged" <<'PY'
import sys
for count in (3, 21, 40):
    table = b"".join((b"\x01\x2b" if k == 0 else b"\x00\x2b") + k.to_bytes(4, "little") + b"\r"
                     for k in range(count))
    with open(f"{sys.argv[1]}/left_out_{count}.qb", "wb") as out:
        out.write(table + b"\x00\x2b\x07\x00\x00\x00c\x00\x00")
PY
tables=(tests/data/*.qb fuzz/corpus_tables/* "$work"/dbgparse/*.qb "$work"/damaged/*.qb)
mkdir "$work/qbdump-listings" "$work/csharp-listings"
k=0
for table in "${tables[@]}"; do
  "$qbdump" "$table" "$work/qbdump-listings/$k.dbg" </dev/null 2>&1 >/dev/null |
    grep -E '^qbdump: .*: (entry [0-9]+ at byte [0-9]+ left out: |[0-9]+ more entries left out, |byte [0-9]+: expected )' \
      >>"$work/qbdump-told" || true
  k=$((k + 1))
done
csharp list "$work/csharp-listings" "${tables[@]}" >"$work/csharp-told"
diff "$work/qbdump-told" "$work/csharp-told"
diff -r "$work/qbdump-listings" "$work/csharp-listings"
echo "${#tables[@]} tables: listings, entries left out and faults as qbdump's ($(grep -c ' left out' "$work/csharp-told") lines on entries left out)"
echo "csharp: all checks passed"
