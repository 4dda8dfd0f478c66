# Strict warnings for the project's own targets; errors when DBGPARSE_WERROR.
function(dbgparse_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${DBGPARSE_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wsign-conversion -Wold-style-cast
                                             $<$<BOOL:${DBGPARSE_WERROR}>:-Werror>)
  endif()
endfunction()
