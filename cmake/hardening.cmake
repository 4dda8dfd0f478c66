# Hardening for optimised builds on ELF systems, as Debian builds its own
# packages: checked string and memory functions, a stack protector, a
# position-independent executable and relocations made read-only at start-up.
# Debug builds stay as they are (_FORTIFY_SOURCE needs the optimiser), and so
# do sanitizer builds, whose run-time checks these would only get in the way of.
option(DBGPARSE_HARDENING "Harden optimised builds (fortify, stack protector, PIE, RELRO)" ON)

if(DBGPARSE_HARDENING
   AND NOT WIN32
   AND NOT APPLE
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang"
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)

  set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  # Undefined first: some compilers define their own level, and a redefinition
  # would be a warning, hence an error.
  add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2;-fstack-protector-strong>")
  add_link_options("$<${optimised}:LINKER:-z,relro,-z,now>")
  unset(optimised)
endif()
