#!/usr/bin/env bash
# The Windows programs at a console, under wine: started under script(1),
# whose terminal wine makes the programs' console. Wine's console shows what
# it is given a few bytes at a time, as the consoles of Windows 7 and 8 may,
# so a name outside ASCII shows as typed only when it arrives as whole wide
# text. And Ctrl-C at the pause (wine turns the terminal's ^C into the
# console's Ctrl-C event) ends the pause, not the run: the status is the
# run's own. Exit status 77 where script(1) is missing.
# Usage: console_under_wine.sh DBGPARSE_EXE QBDUMP_EXE
set -euo pipefail
# A UTF-8 terminal, whatever the caller's locale: wine shows the names by it,
# and the commands given to script(1) quote them as the shell reads them.
export LC_ALL=C.UTF-8
command -v script >/dev/null || { echo "script(1) is missing: nothing shown"; exit 77; }
# Started as the test runner starts the programs (cmake/run-under-wine.sh).
under_wine=$(cd "$(dirname "$0")/../../cmake" && pwd)/run-under-wine.sh
dbgparse=$1 qbdump=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
failures=0

# What the console showed, without the terminal's control sequences.
shown() { sed 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\r//g' "$1"; }

# Runs a program at a console of its own, the terminal's bytes going to
# `typescript`: with the keys from standard input (`at_console`), or with
# nothing to read, so that it does not pause (`at_console_unread`).
# The shell script(1) starts is replaced by the program: a shell left
# waiting for it (dash does not replace itself) would be ended by the
# terminal's ^C, and its status taken for the program's.
at_console() {
  timeout 120 script -qfec "exec $(printf '%q ' sh "$under_wine" "$@")" typescript >/dev/null
}
at_console_unread() {
  timeout 120 script -qfec "exec $(printf '%q ' sh "$under_wine" "$@") </dev/null" typescript </dev/null >/dev/null
}

# Names outside ASCII in each program's messages and listing, on standard
# output and standard error alike.
printf '[Checksums]\r\n0x00000001 café\r\n0x00000002 日本語\r\n' >names.dbg
sh "$under_wine" "$dbgparse" names.dbg names.qb </dev/null >/dev/null 2>&1
while IFS='|' read -r label program arguments expected count; do
  # shellcheck disable=SC2086 # the arguments are words
  at_console_unread "$program" $arguments || true
  got=$(shown typescript | grep -c -F "$expected" || true)
  if [ "$got" -lt "$count" ]; then
    echo "$label: '$expected' shown $got times, not $count:"
    shown typescript
    failures=$((failures + 1))
  fi
done <<CASES
dbgparse's message and its reason|$dbgparse|café.dbg|café.dbg|2
qbdump's listing, a Latin name|$qbdump|names.qb|café|1
qbdump's listing, a Japanese name|$qbdump|names.qb|日本語|1
qbdump's message|$qbdump|表.qb|表.qb|1
CASES

# Ctrl-C at the pause, after a success and after a failure: the status the
# run had before the pause.
while IFS='|' read -r label arguments status; do
  rm -f typescript keys
  mkfifo keys
  # shellcheck disable=SC2086 # the arguments are words
  at_console "$dbgparse" $arguments <keys &
  pid=$!
  exec 3>keys
  for _ in $(seq 600); do
    shown typescript 2>/dev/null | grep -q 'Press any key' && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if ! shown typescript | grep -q 'Press any key'; then
    echo "$label: no pause"
    shown typescript
    failures=$((failures + 1))
  fi
  printf '\003' >&3
  got=0
  wait "$pid" || got=$?
  exec 3>&-
  if [ "$got" -ne "$status" ]; then
    echo "$label: status $got after Ctrl-C at the pause, not $status"
    failures=$((failures + 1))
  fi
done <<CASES
Ctrl-C after Finished!|names.dbg out.qb|0
Ctrl-C after a failure|missing.dbg|255
CASES

[ "$failures" -eq 0 ] && echo "names shown as typed; Ctrl-C at the pause keeps the run's status"
exit $((failures > 0))
