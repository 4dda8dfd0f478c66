#!/usr/bin/env bash
# The example qbtool.exe, linked against dbgparse.dll, run under wine beside
# the programs: on every golden file its tables (through dbgparse_convert and
# dbgparse_convert_to) are dbgparse.exe's byte for byte, and its listing of
# each table ends as qbdump.exe --check says.
# Usage: example_under_wine.sh QBTOOL_EXE DBGPARSE_EXE QBDUMP_EXE DATA_FOLDER
set -euo pipefail
# Each program starts as the test runner starts them (cmake/run-under-wine.sh):
# under the loader the build chose, with wine's server kept up between
# programs, as a server that ends between two and is started again by the
# next can refuse that program its start.
under_wine=$(cd "$(dirname "$0")/../../cmake" && pwd)/run-under-wine.sh
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
qbtool=$1 dbgparse=$2 qbdump=$3 data=$4
# A Windows program under wine, started again when wine itself could not
# start it (it says so on standard error and exits with 1, the program not
# having run); the program's own streams and status otherwise.
windows() {
  local try status
  for try in 1 2 3; do
    status=0
    sh "$under_wine" "$@" 2>"$folder/wine_errors" || status=$?
    if [ "$status" -eq 0 ] || ! grep -q 'Application could not be started' "$folder/wine_errors"; then
      cat "$folder/wine_errors" >&2
      return "$status"
    fi
    sleep 1
  done
  cat "$folder/wine_errors" >&2
  return "$status"
}
# A run that succeeds on every input here, started again whenever it
# failed: wine has been seen to fail a start in other words, or none. Each
# failure is told, and the last one's status is the run's.
succeeding() {
  local try status
  for try in 1 2 3; do
    status=0
    windows "$@" 2>"$folder/errors" || status=$?
    [ "$status" -ne 0 ] || return 0
    echo "$(basename "$1") $2 failed with status $status (try $try):" >&2
    cat "$folder/errors" >&2
  done
  return "$status"
}
cd "$folder"
checked=0
for dbg in "$data"/*.dbg; do
  cp "$dbg" in.dbg
  succeeding "$dbgparse" in.dbg expected.qb </dev/null >/dev/null
  for mode in convert convert-to; do
    succeeding "$qbtool" "$mode" in.dbg "$mode.qb" </dev/null
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
  said=$(windows "$qbdump" --check t.qb </dev/null 2>&1 | tr -d '\r') || status=$?
  if [ "$status" = 0 ]; then
    expected="$(sed -E 's/^([0-9]+) entr(y|ies),.*/\1/' <<<"$said") entries"
  else
    expected=${said#"qbdump: t.qb: "}
    expected=${expected%%$'\n'*}
  fi
  status=0
  lines=$(windows "$qbtool" list t.qb </dev/null 2>fault.txt | tr -d '\r') || status=$?
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
