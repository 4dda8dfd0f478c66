#!/usr/bin/env bash
# dbgparse for browsers and Node (web/, the `web` preset). The library is
# built as WebAssembly with Debian's emscripten; its npm package, made by
# `npm pack`, is installed into a fresh folder and tested there with
# node --test, and the single-file page is driven in Debian's Chromium by
# playwright-core (pinned in web/test/package-lock.json, no browser
# downloaded), opened from disk and from a server on 127.0.0.1. Both hold
# every table, warning, entry count, fault and listing to the native
# programs' on the inputs of web/test/cases.mjs.
set -euo pipefail
cd "$(dirname "$0")/.."

# What a fresh machine lacks, by Debian package: node and npm may come from
# elsewhere, on PATH.
source .ci/install_missing.sh
missing=()
installed emscripten || missing+=(emscripten)
[ -x /usr/bin/chromium ] || missing+=(chromium)
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
command -v python3 >/dev/null || missing+=(python3)
install_required "${missing[@]}"

root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "--- the native programs to compare with (release build)"
cmake --preset release >/dev/null
cmake --build --preset release

echo "--- the web build: module, npm package and page"
cmake --workflow --preset web >/dev/null
wasm=build/web/web/dbgparse.wasm
page=build/web/dbgparse.html
echo "$(stat -c %s "$wasm") bytes of WebAssembly, a page of $(stat -c %s "$page") bytes"

echo "--- npm pack, installed into a fresh folder, node --test there"
(cd build/web/web/package && npm pack --silent --pack-destination "$work" >/dev/null)
tarball=$(echo "$work"/dbgparse-*.tgz)
tar -tzf "$tarball" | sort
tar -tzf "$tarball" | grep -qx package/dbgparse.wasm
mkdir "$work/fresh"
cp web/test/cases.mjs web/test/node.test.mjs "$work/fresh"
(cd "$work/fresh" && npm init -y >/dev/null && npm install --silent --no-audit --no-fund "$tarball" &&
  DBGPARSE_ROOT="$root" node --test)

echo "--- web/README.md's example, where the package is installed"
cp tests/data/checksum_line_inside_text.dbg "$work/fresh/names.dbg"
for example in $(python3 tests/support/doc_examples.py extract js "$work/fresh/examples"); do
  (cd "$work/fresh" && node "$example" >/dev/null)
done

echo "--- the page in Chromium"
(cd web/test && npm ci --silent --no-audit --no-fund && node --test browser.test.mjs)
ls build/web/*.png
