#!/usr/bin/env bash
# The Windows programs: cross-compiled with mingw-w64 and tested under wine
# (`cmake --workflow --preset windows`), then the Windows .zip, listed and
# checked to hold a program for each manual page. The .deb is package.sh's.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh machine lacks, by Debian package.
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || missing+=(wine)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
command -v groff >/dev/null || missing+=(groff-base)
command -v unzip >/dev/null || missing+=(unzip)
if ((${#missing[@]} > 0)); then
  echo "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A prefix of the build's own, created up front (the first start takes a
# while), without the dialogs that offer to install Mono and Gecko.
export WINEPREFIX="$PWD/build/windows/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine wineboot --init </dev/null >/dev/null 2>&1 || echo "wineboot failed; the tests will try again"
trap 'wineserver -k 2>/dev/null || true' EXIT

cmake --workflow --preset windows

# Ctrl-C during the write, which wine delivers as the console's Ctrl-C event
# when the process gets SIGINT: the temporary file goes, the older output
# stays, and the status is the one of a process ended by Ctrl-C
# (0xC000013A, of which the low byte, 58, reaches the shell). A run that
# finished before the signal, or had its table in place when it came, shows
# nothing and is tried again.
check_interrupted_write() {
  local exe folder pid status
  exe="$PWD/build/windows/dbgparse.exe"
  folder=$(mktemp -d)
  # A line of "0x" alone gives a table 22 times its size: a long write.
  { printf '[Checksums]\r\n'; (yes 0x || true) | head -c 16000000 | tr -d '\n'; printf ' x\r\n'; } \
    >"$folder/names.dbg"
  (cd "$folder" && wine "$exe" names.dbg whole.qb </dev/null >/dev/null 2>&1)
  for _ in 1 2 3; do
    echo older >"$folder/out.qb"
    (cd "$folder" && exec wine "$exe" names.dbg out.qb </dev/null >log.txt 2>&1) &
    pid=$!
    until compgen -G "$folder/~dbg*.tmp" >/dev/null || ! kill -0 "$pid" 2>/dev/null; do
      sleep 0.01
    done
    kill -INT "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 58 ]; then
      echo "unexpected status $status"
      return 1
    fi
    ! compgen -G "$folder/~dbg*.tmp" >/dev/null || { echo "a temporary file was left"; return 1; }
    if [ "$status" -eq 58 ] && [ "$(cat "$folder/out.qb")" = older ]; then
      echo "interrupted during the write: temporary file removed, older output kept"
      rm -rf "$folder"
      return 0
    fi
    cmp -s "$folder/out.qb" "$folder/whole.qb" || { echo "the older output was lost"; return 1; }
  done
  echo "the table was always in place before the signal arrived; nothing shown"
  rm -rf "$folder"
}
echo "--- Ctrl-C during the write"
check_interrupted_write

echo "--- the Windows package"
(cd build/windows && rm -f dbgparse-*.zip && cpack -G ZIP)
zip=(build/windows/dbgparse-*-win64.zip)
unzip -l "${zip[@]}"
contents=$(unzip -Z1 "${zip[@]}")
for page in doc/*.1; do
  program=$(basename "$page" .1).exe
  if ! grep -q "/$program\$" <<<"$contents"; then
    echo "the zip lacks $program" >&2
    exit 1
  fi
done
