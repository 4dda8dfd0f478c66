#!/usr/bin/env bash
# Ctrl-C during the write of dbgparse.exe run under wine, which delivers the
# console's Ctrl-C event when the process gets SIGINT: the temporary file
# goes, the older output stays, and the status is the one of a process ended
# by Ctrl-C (0xC000013A, of which the low byte, 58, reaches the shell). A run
# that finished before the signal, or had its table in place when it came,
# shows nothing and is tried again; exit status 77 when none showed it.
# Usage: interrupted_write_under_wine.sh DBGPARSE_EXE
set -euo pipefail
# Each program starts as the test runner starts them (cmake/run-under-wine.sh):
# under the loader the build chose, with wine's server kept up between
# programs, as a server that ends between two and is started again by the
# next can refuse that program its start.
under_wine=$(cd "$(dirname "$0")/../../cmake" && pwd)/run-under-wine.sh
exe=$1
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
# A line of "0x" alone gives a table 22 times its size: a long write.
{ printf '[Checksums]\r\n'; (yes 0x || true) | head -c 16000000 | tr -d '\n'; printf ' x\r\n'; } \
  >"$folder/names.dbg"
(cd "$folder" && sh "$under_wine" "$exe" names.dbg whole.qb </dev/null >/dev/null 2>&1)
for _ in 1 2 3; do
  echo older >"$folder/out.qb"
  (cd "$folder" && exec sh "$under_wine" "$exe" names.dbg out.qb </dev/null >log.txt 2>&1) &
  pid=$!
  until compgen -G "$folder/~dbg*.tmp" >/dev/null || ! kill -0 "$pid" 2>/dev/null; do
    sleep 0.01
  done
  kill -INT "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  if [ "$status" -ne 0 ] && [ "$status" -ne 58 ]; then
    echo "unexpected status $status"
    exit 1
  fi
  # Removed as its last handle closes, which may come a moment later.
  for _ in $(seq 50); do
    compgen -G "$folder/~dbg*.tmp" >/dev/null || break
    sleep 0.1
  done
  ! compgen -G "$folder/~dbg*.tmp" >/dev/null || { echo "a temporary file was left"; exit 1; }
  if [ "$status" -eq 58 ] && [ "$(cat "$folder/out.qb")" = older ]; then
    echo "interrupted during the write: temporary file removed, older output kept"
    exit 0
  fi
  cmp -s "$folder/out.qb" "$folder/whole.qb" || { echo "the older output was lost"; exit 1; }
done
echo "the table was always in place before the signal arrived; nothing shown"
exit 77
