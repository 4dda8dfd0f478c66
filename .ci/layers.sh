#!/usr/bin/env bash
# Fails when the layers leak into each other:
# - the operating system is reached through platform/ alone: no file of
#   lib/, programs/ or fuzz/ includes an operating-system header or tests
#   for the platform it is built on (_WIN32 and the like). tests/ and bench/
#   are exempt: the tests drive processes, terminals and other users, and
#   the benchmarks measure plain system reads and writes against ours. The
#   installed header lib/include/dbgparse.h may test for Windows, only to
#   say how its functions are exported from a DLL;
# - lib/ includes nothing from platform/ or programs/: every header it names
#   in quotes is one of its own, none is a header of the layers above, and
#   its CMake targets link to neither;
# - the library builds alone (DBGPARSE_PROGRAMS=OFF), with no thread, and
#   with another compiler than the programs' (clang++), as a user on
#   another system would build it.
set -euo pipefail
cd "$(dirname "$0")/.."

failed=0
complain() {
  printf '%s\n' "$1" >&2
  failed=1
}

os_header='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(unistd|windows|winbase|winnt|io|fcntl|termios|signal|pty|poll|dirent|dlfcn|pthread|direct|shellapi|sys/[a-z_/]+)\.h>|^[[:space:]]*#[[:space:]]*include[[:space:]]*<csignal>'
platform_macro='\b(_WIN32|_WIN64|__linux__|__unix__|__APPLE__|_MSC_VER|__MINGW32__|__MINGW64__)\b'

mapfile -t above_platform < <(git ls-files 'lib/*.cpp' 'lib/*.h' 'programs/*.cpp' 'programs/*.h' \
  'fuzz/*.cpp' 'fuzz/*.h')
for file in "${above_platform[@]}"; do
  if hits=$(grep -nE "$os_header" "$file"); then
    complain "$file: an operating-system header outside platform/:"$'\n'"$hits"
  fi
  if [[ $file != lib/include/* ]] && hits=$(grep -nE "$platform_macro" "$file"); then
    complain "$file: a platform test outside platform/:"$'\n'"$hits"
  fi
done

# The headers of the two layers above the library, by name.
mapfile -t upper_headers < <(git ls-files 'platform/*.h' 'programs/*.h' | xargs -r -n1 basename | sort -u)
mapfile -t library_files < <(git ls-files 'lib/*.cpp' 'lib/*.h')
for file in "${library_files[@]}"; do
  while IFS= read -r line; do
    number=${line%%:*}
    header=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*["<]([^">]+)[">].*/\1/' <<<"${line#*:}")
    name=$(basename "$header")
    for upper in "${upper_headers[@]}"; do
      if [ "$name" = "$upper" ]; then
        complain "$file:$number: the library includes $header from a layer above it"
      fi
    done
    if [[ $header == */* && ${line#*:} == *\"* ]] || [[ ${line#*:} == *\"* && ! -f lib/$header && ! -f lib/include/$header ]]; then
      complain "$file:$number: the library includes \"$header\", which is not one of its own headers"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done
if hits=$(grep -nE 'dbgparse_platform|programs/|platform/' lib/CMakeLists.txt | grep -v '^[0-9]*:#'); then
  complain "lib/CMakeLists.txt: the library's targets reach a layer above it:"$'\n'"$hits"
fi

if hits=$(grep -nE '#[[:space:]]*include[[:space:]]*<(thread|mutex|condition_variable|future)>' lib/*.cpp lib/*.h); then
  complain "the library starts or waits for threads:"$'\n'"$hits"
fi

compiler=$(command -v clang++ || command -v c++)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! cmake -S . -B "$work" -DDBGPARSE_PROGRAMS=OFF -DDBGPARSE_TESTS=OFF -DDBGPARSE_WERROR=ON \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$compiler" >/dev/null ||
  ! cmake --build "$work" -j2 >/dev/null; then
  complain "the library does not build alone with $compiler"
fi

if [ "$failed" != 0 ]; then
  echo "the layers leak: see above" >&2
  exit 1
fi
echo "layers: the operating system is reached through platform/ alone; lib/ includes only itself, starts no thread and builds alone with $(basename "$compiler")"
