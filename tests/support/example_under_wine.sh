#!/usr/bin/env bash
# The example qbtool.exe, linked against dbgparse.dll, run under wine beside
# the programs: on every golden file its tables (through dbgparse_convert and
# dbgparse_convert_to) are dbgparse.exe's byte for byte, and its listing of
# each table ends as qbdump.exe --check says.
# Usage: example_under_wine.sh QBTOOL_EXE DBGPARSE_EXE QBDUMP_EXE DATA_FOLDER
set -euo pipefail
qbtool=$1 dbgparse=$2 qbdump=$3 data=$4
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
checked=0
for dbg in "$data"/*.dbg; do
  cp "$dbg" in.dbg
  wine "$dbgparse" in.dbg expected.qb </dev/null >/dev/null 2>&1
  for mode in convert convert-to; do
    wine "$qbtool" "$mode" in.dbg "$mode.qb" </dev/null
    cmp expected.qb "$mode.qb" || { echo "$(basename "$dbg"): $mode differs" >&2; exit 1; }
  done
  checked=$((checked + 1))
done
# Each table listed through dbgparse_next_entry ends as qbdump.exe --check
# says: the same number of entries, or the same fault at the same byte.
listed=0
for table in "$data"/*.qb "$data"/../../fuzz/corpus_tables/*; do
  cp "$table" t.qb
  status=0
  said=$(wine "$qbdump" --check t.qb </dev/null 2>&1 | tr -d '\r') || status=$?
  if [ "$status" = 0 ]; then
    expected="$(sed -E 's/^([0-9]+) entr(y|ies),.*/\1/' <<<"$said") entries"
  else
    expected=${said#"qbdump: t.qb: "}
    expected=${expected%%$'\n'*}
  fi
  status=0
  lines=$(wine "$qbtool" list t.qb </dev/null 2>fault.txt | tr -d '\r') || status=$?
  if [ "$status" = 0 ]; then
    got="$(printf '%s' "$lines" | grep -c '^0x' || true) entries"
  else
    got=$(tr -d '\r' <fault.txt | sed 's/^qbtool: //')
  fi
  if [ "$got" != "$expected" ]; then
    echo "$(basename "$table"): qbtool says \"$got\", qbdump --check \"$expected\"" >&2
    exit 1
  fi
  listed=$((listed + 1))
done
echo "$checked DBG files converted and $listed tables listed through dbgparse.dll"
