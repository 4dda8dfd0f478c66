# Cross-compiles the programs for 32-bit Windows with Debian's mingw-w64
# (package g++-mingw-w64-i686-posix) and runs them under 32-bit wine (package
# wine32, of the i386 architecture); otherwise as the 64-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DBGPARSE_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Up to 4 GiB of address space on 64-bit Windows instead of 2, for inputs
# near the limit; the code holds no pointer in a signed integer.
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--large-address-aware")
