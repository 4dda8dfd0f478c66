# Checks the manual page: groff renders it without a single warning (-ww, as
# `man --warnings` asks), it has the sections a reader looks for, and its
# header names the version being built.
#   cmake -DPAGE=doc/dbgparse.1 -DVERSION=1.1.0 -P check_man_page.cmake
find_program(GROFF groff)
if(NOT GROFF)
  message(FATAL_ERROR "groff is needed to check the manual page (Debian: groff-base)")
endif()

execute_process(COMMAND ${GROFF} -ww -man -Tutf8 -z ${PAGE}
                RESULT_VARIABLE status ERROR_VARIABLE warnings)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff complains about ${PAGE} (status ${status}):\n${warnings}")
endif()

execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE}
                RESULT_VARIABLE status OUTPUT_VARIABLE rendered)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "groff cannot render ${PAGE} (status ${status})")
endif()
foreach(section NAME SYNOPSIS DESCRIPTION "TABLE LAYOUT" MESSAGES "EXIT STATUS" FILES EXAMPLES)
  string(FIND "${rendered}" "\n${section}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PAGE} has no section ${section}")
  endif()
endforeach()

file(STRINGS ${PAGE} title REGEX "^\\.TH ")
if(NOT title MATCHES "\"dbgparse ${VERSION}\"")
  message(FATAL_ERROR "${PAGE} is headed `${title}`, not for dbgparse ${VERSION}")
endif()
