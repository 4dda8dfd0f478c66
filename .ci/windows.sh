#!/usr/bin/env bash
# The Windows programs at both widths: cross-compiled with mingw-w64 and
# tested under wine (`cmake --workflow --preset windows`, 64-bit, and
# `--preset windows-x86`, 32-bit under 32-bit wine), then each width's .zip,
# listed and checked to hold what a Windows user needs. The .deb is
# package.sh's.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh machine lacks, by Debian package.
source .ci/install_missing.sh
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
command -v wine >/dev/null || missing+=(wine)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
command -v groff >/dev/null || missing+=(groff-base)
command -v unzip >/dev/null || missing+=(unzip)
# 32-bit programs run under Debian's 32-bit wine, of the i386 architecture,
# added first so that one update of the indexes serves both. The 32-bit
# tests alone need it: it is installed apart, and where it cannot be (its
# i386 libraries must be the very versions of the amd64 ones installed,
# which a mirror in the middle of a sync may not have), the rest goes on.
wine32=/usr/lib/wine/wine
if [ ! -x "$wine32" ]; then
  add_architecture i386 || true
fi
install_required "${missing[@]}"

# Where the 32-bit programs cannot run, they are built and packaged but not
# tested, and `wine`, which hands every program to the 32-bit loader, starts
# none: 64-bit programs go to the 64-bit loader directly, as the build's
# test runner does too (cmake/mingw-w64.cmake).
untested_32_bit=
if [ ! -x "$wine32" ] && ! install_optional wine32:i386; then
  untested_32_bit="wine32:i386 could not be installed"
elif ! "$wine32" --version >/dev/null 2>&1; then
  # Some machines, some virtual machines among them, run no 32-bit programs.
  untested_32_bit="this machine runs no 32-bit programs"
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true' EXIT

# Builds and tests one width, then checks its zip.
check_width() {
  local preset=$1 width=$2
  echo "--- $preset ($width)"
  # A prefix of the build's own, created up front (the first start takes a
  # while), without the dialogs that offer to install Mono and Gecko.
  export WINEPREFIX="$PWD/build/$preset/wine"
  mkdir -p "$WINEPREFIX"
  local wine=wine
  if [ -n "$untested_32_bit" ] && [ "$width" = win32 ]; then
    echo "the 32-bit tests are skipped: $untested_32_bit; the $width build is made and packaged, not tested"
    cmake --preset "$preset" -DDBGPARSE_TESTS=OFF
    cmake --build --preset "$preset"
  else
    [ -z "$untested_32_bit" ] || wine=/usr/lib/wine/wine64
    # A build folder that an earlier run could not test has its tests back.
    if grep -qx 'DBGPARSE_TESTS:BOOL=OFF' "build/$preset/CMakeCache.txt" 2>/dev/null; then
      cmake --preset "$preset" -DDBGPARSE_TESTS=ON >/dev/null
    fi
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 || echo "wineboot failed; the tests will try again"
    cmake --workflow --preset "$preset"
  fi

  echo "--- the $width package"
  (cd "build/$preset" && rm -f dbgparse-*.zip && cpack -G ZIP)
  zip=("build/$preset"/dbgparse-*-"$width".zip)
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
  for file in README.txt LICENSE.txt sample.dbg dbgparse.dll libdbgparse.dll.a dbgparse.def dbgparse.h Dbgparse.cs; do
    grep -q "/$file\$" <<<"$contents" || { echo "the zip lacks $file" >&2; exit 1; }
  done
  # The DLL exports the C interface alone and needs no DLL beyond Windows'.
  unzip -p "${zip[@]}" "*/dbgparse.dll" >"build/$preset/zipped.dll"
  # It carries version information, as the programs do.
  if ! strings -el "build/$preset/zipped.dll" | grep -x FileDescription >/dev/null; then
    echo "dbgparse.dll has no version information" >&2
    exit 1
  fi
  table=$(x86_64-w64-mingw32-objdump -p "build/$preset/zipped.dll")
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" |
    grep -E '^[[:space:]]*\[ *[0-9]+\] ' | awk '{print $NF}' | sort)
  # The functions dbgparse.def lists, no more and no fewer.
  listed=$(sed -n '/^EXPORTS/,$p' lib/dbgparse.def | awk 'NR > 1 && NF { print $1 }' | sort)
  if [ "$exports" != "$listed" ]; then
    echo "dbgparse.dll exports: $exports" >&2
    exit 1
  fi
  if grep 'DLL Name' <<<"$table" | grep -v -i -E 'DLL Name: (kernel32|msvcrt)\.dll$'; then
    echo "dbgparse.dll needs a DLL that Windows does not have" >&2
    exit 1
  fi
  # Plain text that Notepad shows line by line: every line ends in CR LF.
  for text in README.txt LICENSE.txt dbgparse.h dbgparse.def Dbgparse.cs; do
    if unzip -p "${zip[@]}" "*/$text" | grep -v $'\r$' >/dev/null; then
      echo "$text has a line that does not end in CR LF" >&2
      exit 1
    fi
  done
}

check_width windows win64
check_width windows-x86 win32
