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

if [ "$(id -u)" = 0 ]; then
  missing=()
  for package in mono-mcs mono-runtime python3; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  if ((${#missing[@]} > 0)); then
    echo "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

echo "--- the release build, installed into a temporary prefix"
cmake --preset release >/dev/null
cmake --build --preset release
cmake --install build/release --prefix "$prefix" >/dev/null
shared=$(find "$prefix" -name libdbgparse.so.2)
dbgparse=$prefix/bin/dbgparse
qbdump=$prefix/bin/qbdump

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

echo "--- tables and warnings against dbgparse's"
mkdir "$work/hostile" "$work/damaged" "$work/dbgparse" "$work/csharp"
python3 - "$work/hostile" <<'PY'
import random, sys
random.seed(25)
pieces = [b"[Checksums]\r\n", b"0x", b"0x", b"0X", b"0x2a9d4b1c ", b"deadBEEF", b"12", b"  ", b"\t",
          b"\r\n", b"\r", b"\n", b"\0", b"+", b"-", b"x", b"name", b"z" * 300, b"[Checksums]\n"]
for k in range(300):
    body = b"".join(random.choice(pieces) for _ in range(random.randrange(1, 400)))
    head = b"[Checksums]\r\n" if k % 4 else b""
    open(f"{sys.argv[1]}/{k:03}.dbg", "wb").write(head + body)
PY
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
python3 - "$work/dbgparse" "$work/damaged" <<'PY'
import os, random, sys
random.seed(25)
tables = sorted(os.listdir(sys.argv[1]))
for k in range(400):
    table = bytearray(open(os.path.join(sys.argv[1], random.choice(tables)), "rb").read())
    how = k % 3
    if how == 0:
        table = table[:random.randrange(len(table) + 1)]
    elif how == 1:
        table[random.randrange(len(table))] = random.choice([0x00, 0x01, 0x2B, 0x41])
    else:
        table += bytes(random.choice([0x00, 0x2B, 0x41]) for _ in range(random.randrange(1, 4)))
    open(os.path.join(sys.argv[2], f"{k:03}.qb"), "wb").write(table)
PY
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
echo "csharp: all checks passed"
