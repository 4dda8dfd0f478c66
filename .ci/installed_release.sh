# Sourced by the checks that use the library as an outside program does:
# install_release WORK builds the release preset and installs it into
# WORK/prefix, then sets prefix, libdir (the folder of libdbgparse.so.2 and
# dbgparse.pc's pkgconfig folder), shared (libdbgparse.so.2) and the
# installed dbgparse and qbdump.
install_release() {
  prefix=$1/prefix
  echo "--- the release build, installed into a temporary prefix"
  cmake --preset release >/dev/null
  cmake --build --preset release
  cmake --install build/release --prefix "$prefix" >/dev/null
  local pc
  pc=$(find "$prefix" -name dbgparse.pc)
  libdir=$(dirname "$(dirname "$pc")")
  shared=$libdir/libdbgparse.so.2
  dbgparse=$prefix/bin/dbgparse
  qbdump=$prefix/bin/qbdump
}
