# Cross-compiles the programs for 64-bit Windows with Debian's mingw-w64
# (package g++-mingw-w64-x86-64-posix) and runs the Windows binaries under
# wine (package wine64), so CTest can test them on Linux. The 32-bit build's
# toolchain (mingw-w64-i686.cmake) sets its own target first.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT DEFINED DBGPARSE_MINGW_PREFIX)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(DBGPARSE_MINGW_PREFIX x86_64-w64-mingw32)
endif()
find_program(CMAKE_C_COMPILER NAMES ${DBGPARSE_MINGW_PREFIX}-gcc-posix ${DBGPARSE_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DBGPARSE_MINGW_PREFIX}-g++-posix ${DBGPARSE_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DBGPARSE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DBGPARSE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes and winpthread are linked in, so dbgparse.exe (and
# libdbgparse.dll) needs no DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Windows programs run under wine (through a script that keeps wine's server
# up between the tests). Each build gets a wine prefix of its own, created on
# the first start, and wine's own diagnostics stay out of the programs'
# output. A WINEPREFIX set when configuring is kept.
find_program(DBGPARSE_WINE NAMES wine wine64)
if(DBGPARSE_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(DEFINED ENV{WINEPREFIX})
    set(DBGPARSE_WINEPREFIX "$ENV{WINEPREFIX}")
  else()
    set(DBGPARSE_WINEPREFIX "${CMAKE_BINARY_DIR}/wine")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR env "WINEPREFIX=${DBGPARSE_WINEPREFIX}" WINEDEBUG=-all
                                    "WINEDLLOVERRIDES=mscoree,mshtml=" sh
                                    "${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh")
elseif(NOT DBGPARSE_WINE)
  message(WARNING "wine was not found: the Windows programs build, but the tests cannot run")
endif()
