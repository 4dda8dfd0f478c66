#!/usr/bin/env bash
# The Windows program: cross-compiled with mingw-w64 and tested under wine
# (`cmake --workflow --preset windows`), then the packages: the .deb of a
# release build and the Windows .zip, each with its contents listed.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh machine lacks, by Debian package.
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || missing+=(wine)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
command -v groff >/dev/null || missing+=(groff-base)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
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
unzip -l build/windows/dbgparse-*-win64.zip

echo "--- the Debian package"
cmake --workflow --preset release
(cd build/release && rm -f dbgparse_*.deb && cpack -G DEB)
dpkg-deb --info build/release/dbgparse_*.deb
dpkg-deb --contents build/release/dbgparse_*.deb
