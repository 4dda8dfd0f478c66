#!/usr/bin/env bash
# The Debian packages: every manual page passes mandoc's lint, the release
# build configures and builds without GoogleTest, the same build with its
# tests passes them, and the three .deb made from that tested build (the
# programs, the shared library, the development files) each hold what they
# should and are clean under lintian, Debian's own checker.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh machine lacks, by Debian package.
source .ci/install_missing.sh
missing=()
command -v mandoc >/dev/null || missing+=(mandoc)
command -v lintian >/dev/null || missing+=(lintian)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
command -v groff >/dev/null || missing+=(groff-base)
install_required "${missing[@]}"

echo "--- mandoc -Tlint"
pages=(doc/*.1)
for page in "${pages[@]}"; do
  # Any message at all is a failure, whatever its level.
  if ! report=$(mandoc -Tlint "$page" 2>&1) || [ -n "$report" ]; then
    printf '%s\n' "$report"
    echo "mandoc complains about $page" >&2
    exit 1
  fi
  echo "$page: clean"
done

echo "--- the release build as the README makes it, with GoogleTest out of reach"
# In a fresh folder of its own; whatever asked for GoogleTest would stop it.
rm -rf build/release-without-gtest
cmake --preset release -B build/release-without-gtest -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
cmake --build build/release-without-gtest -j2

echo "--- the same build with its tests, as packaged"
cmake --workflow --preset release-tests

echo "--- the Debian packages"
# dbgparse holds the programs, libdbgparse2 the shared library and
# libdbgparse-dev what building against it takes.
(cd build/release-tests && rm -f ./*.deb && cpack -G DEB)
programs=(build/release-tests/dbgparse_*.deb)
library=(build/release-tests/libdbgparse2_*.deb)
development=(build/release-tests/libdbgparse-dev_*.deb)
debs=("${programs[@]}" "${library[@]}" "${development[@]}")
declare -A contents
for deb in "${debs[@]}"; do
  dpkg-deb --info "$deb"
  contents[$deb]=$(dpkg-deb --contents "$deb")
  printf '%s\n' "${contents[$deb]}"
done
# lintian wants a page for every program; this wants a program for every page.
for page in "${pages[@]}"; do
  program=$(basename "$page" .1)
  if ! grep -q " \./usr/bin/$program\$" <<<"${contents[${programs[0]}]}"; then
    echo "the package lacks usr/bin/$program, whose page $page it holds" >&2
    exit 1
  fi
done
# Each library file in its package, and in no other.
holds() {
  local deb=$1 pattern=$2 other
  if ! grep -q -E " \./usr/$pattern( |\$)" <<<"${contents[$deb]}"; then
    echo "$(basename "$deb") lacks usr/$pattern" >&2
    exit 1
  fi
  for other in "${debs[@]}"; do
    if [ "$other" != "$deb" ] && grep -q -E " \./usr/$pattern( |\$)" <<<"${contents[$other]}"; then
      echo "$(basename "$other") holds usr/$pattern, which belongs in $(basename "$deb")" >&2
      exit 1
    fi
  done
}
holds "${library[0]}" 'lib/[^ ]*/libdbgparse\.so\.2\.[0-9.]+'
holds "${library[0]}" 'lib/[^ ]*/libdbgparse\.so\.2'
holds "${development[0]}" 'lib/[^ ]*/libdbgparse\.so'
holds "${development[0]}" 'lib/[^ ]*/libdbgparse\.a'
holds "${development[0]}" 'include/dbgparse\.h'
holds "${development[0]}" 'lib/[^ ]*/pkgconfig/dbgparse\.pc'
holds "${development[0]}" 'lib/[^ ]*/pkgconfig/dbgparse-static\.pc'
holds "${development[0]}" 'lib/[^ ]*/cmake/dbgparse/dbgparseConfig\.cmake'
holds "${development[0]}" 'share/doc/libdbgparse-dev/library\.md'
for control in shlibs symbols triggers; do
  if ! dpkg-deb --info "${library[0]}" "$control" >/dev/null; then
    echo "$(basename "${library[0]}") has no $control file" >&2
    exit 1
  fi
done

echo "--- lintian"
# Errors and warnings fail; info and pedantic tags are shown, for the record.
lintian --display-info --pedantic --fail-on error,warning "${debs[@]}"
echo "lintian: no errors or warnings"
