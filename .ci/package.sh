#!/usr/bin/env bash
# The Debian package: every manual page passes mandoc's lint, the release
# build configures and builds without GoogleTest, the same build with its
# tests passes them, and the .deb made from that tested build holds a program
# for each page and is clean under lintian, Debian's own checker.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh machine lacks, by Debian package.
missing=()
command -v mandoc >/dev/null || missing+=(mandoc)
command -v lintian >/dev/null || missing+=(lintian)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
command -v groff >/dev/null || missing+=(groff-base)
if ((${#missing[@]} > 0)); then
  echo "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

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

echo "--- the Debian package"
(cd build/release-tests && rm -f dbgparse_*.deb && cpack -G DEB)
deb=(build/release-tests/dbgparse_*.deb)
dpkg-deb --info "${deb[@]}"
contents=$(dpkg-deb --contents "${deb[@]}")
printf '%s\n' "$contents"
# lintian wants a page for every program; this wants a program for every page.
for page in "${pages[@]}"; do
  program=$(basename "$page" .1)
  if ! grep -q " \./usr/bin/$program\$" <<<"$contents"; then
    echo "the package lacks usr/bin/$program, whose page $page it holds" >&2
    exit 1
  fi
done

echo "--- lintian"
# Errors and warnings fail; info and pedantic tags are shown, for the record.
lintian --display-info --pedantic --fail-on error,warning "${deb[@]}"
echo "lintian: no errors or warnings"
