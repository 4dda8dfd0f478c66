# The control files of the libdbgparse2 package, written here rather than by
# CPack: CPack would run ldconfig from postinst and postrm, where Debian
# wants the ldconfig trigger and no maintainer script. The package holds
#   shlibs    which package provides libdbgparse.so.MAJOR, from which version,
#   symbols   the same per exported symbol (package/debian/libdbgparse2.symbols),
#   triggers  the ldconfig trigger;
# its Depends are what dpkg-shlibdeps finds for the library, as CPack finds
# them for the programs' package, worked out when cpack runs.
# Included by install.cmake, which defines the packages.
set(library_package libdbgparse${PROJECT_VERSION_MAJOR})
set(control ${PROJECT_BINARY_DIR}/${library_package}-control)
file(WRITE ${control}/shlibs
     "libdbgparse ${PROJECT_VERSION_MAJOR} ${library_package} (>= ${PROJECT_VERSION})\n")
file(WRITE ${control}/triggers "activate-noawait ldconfig\n")
configure_file(${PROJECT_SOURCE_DIR}/package/debian/${library_package}.symbols ${control}/symbols
               COPYONLY)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${control}/shlibs ${control}/symbols
                                               ${control}/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)

if(DBGPARSE_DPKG_SHLIBDEPS)
  file(
    GENERATE
    OUTPUT ${PROJECT_BINARY_DIR}/cpack_library_depends.cmake
    CONTENT
      "# Read by cpack: the Depends of ${library_package}.
# dpkg-shlibdeps wants a debian/control, which it does not read with -O.
file(MAKE_DIRECTORY ${control}/debian)
file(TOUCH ${control}/debian/control)
execute_process(COMMAND ${DBGPARSE_DPKG_SHLIBDEPS} -O $<TARGET_FILE:libdbgparse>
                WORKING_DIRECTORY ${control} OUTPUT_VARIABLE depends ERROR_VARIABLE complaints
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT depends MATCHES \"shlibs:Depends=([^\\n]+)\")
  message(FATAL_ERROR \"dpkg-shlibdeps found no dependencies for $<TARGET_FILE:libdbgparse>: \"
                      \"\${complaints}\")
endif()
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS \"\${CMAKE_MATCH_1}\")
")
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack_library_depends.cmake)
endif()
