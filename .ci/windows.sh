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
  # Version information, as Explorer's Details tab shows it.
  if ! unzip -p "${zip[@]}" "*/$program" | strings -el | grep -x FileDescription >/dev/null; then
    echo "$program has no version information" >&2
    exit 1
  fi
done
for file in README.txt LICENSE.txt sample.dbg; do
  grep -q "/$file\$" <<<"$contents" || { echo "the zip lacks $file" >&2; exit 1; }
done
# Plain text that Notepad shows line by line: every line ends in CR LF.
for text in README.txt LICENSE.txt; do
  if unzip -p "${zip[@]}" "*/$text" | grep -v $'\r$' >/dev/null; then
    echo "$text has a line that does not end in CR LF" >&2
    exit 1
  fi
done
