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
  set(DBGPARSE_WINE_ENVIRONMENT "WINEPREFIX=${DBGPARSE_WINEPREFIX}" WINEDEBUG=-all
                                "WINEDLLOVERRIDES=mscoree,mshtml=")
  # Debian's `wine` hands every program to its 32-bit loader once wine32 is
  # installed, and that loader passes 64-bit programs on. Some machines (some
  # virtual machines among them) run no 32-bit programs at all: there 64-bit
  # programs go to the 64-bit loader directly, and 32-bit ones cannot run.
  execute_process(COMMAND ${DBGPARSE_WINE} --version RESULT_VARIABLE wine_status
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT wine_status EQUAL 0 AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
     AND EXISTS /usr/lib/wine/wine64)
    list(APPEND DBGPARSE_WINE_ENVIRONMENT WINELOADER=/usr/lib/wine/wine64)
  elseif(NOT wine_status EQUAL 0)
    message(WARNING "wine cannot run ${CMAKE_SYSTEM_PROCESSOR} programs on this machine: "
                    "the Windows programs build with -DDBGPARSE_TESTS=OFF, the tests cannot run")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR env ${DBGPARSE_WINE_ENVIRONMENT} sh
                                    "${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh")
elseif(NOT DBGPARSE_WINE)
  message(WARNING "wine was not found: the Windows programs build, but the tests cannot run")
endif()
