# Installing libdbgparse for other programs: the shared library (component
# `library`), and the header, the static library, the shared library's
# development link, a pkg-config file and a CMake package (component
# `development`), as Debian splits them into libdbgparse2 and libdbgparse-dev.
# Included by install.cmake.
include(CMakePackageConfigHelpers)

set(DBGPARSE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/dbgparse)
set(DBGPARSE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The shared library is not executable, as Debian wants it.
install(
  TARGETS libdbgparse libdbgparse_static
  EXPORT dbgparseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          COMPONENT library
          NAMELINK_COMPONENT development
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/lib/include/dbgparse.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
# The overview beside the header's contract: linking, pkg-config, CMake,
# porting from 1.1.
install(FILES ${PROJECT_SOURCE_DIR}/doc/library.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libdbgparse-dev COMPONENT development)

# find_package(dbgparse 2.0 CONFIG): dbgparse::dbgparse (shared) and
# dbgparse::dbgparse_static, compatible within a major version.
install(EXPORT dbgparseTargets NAMESPACE dbgparse:: DESTINATION ${DBGPARSE_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/dbgparseConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/dbgparseConfig.cmake
                              INSTALL_DESTINATION ${DBGPARSE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dbgparseConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/dbgparseConfig.cmake
              ${PROJECT_BINARY_DIR}/dbgparseConfigVersion.cmake
        DESTINATION ${DBGPARSE_CMAKE_DIR} COMPONENT development)

# pkg-config: paths relative to the file itself, so that it holds for any
# prefix given to `cmake --install`. dbgparse.pc links the shared library;
# dbgparse-static.pc links libdbgparse.a itself (a plain -ldbgparse would
# take the shared one wherever both are installed), with the C++ runtime it
# needs and DBGPARSE_STATIC defined.
function(dbgparse_relative_to_prefix variable path)
  if(IS_ABSOLUTE "${path}")
    set(${variable} "${path}" PARENT_SCOPE)
  else()
    set(${variable} "\${prefix}/${path}" PARENT_SCOPE)
  endif()
endfunction()
file(RELATIVE_PATH pc_to_prefix /prefix/${DBGPARSE_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
dbgparse_relative_to_prefix(pc_libdir "${CMAKE_INSTALL_LIBDIR}")
dbgparse_relative_to_prefix(pc_includedir "${CMAKE_INSTALL_INCLUDEDIR}")
list(TRANSFORM DBGPARSE_CXX_RUNTIME_LIBRARIES PREPEND -l OUTPUT_VARIABLE pc_libs_private)
list(JOIN pc_libs_private " " pc_libs_private)
configure_file(${CMAKE_CURRENT_LIST_DIR}/dbgparse.pc.in ${PROJECT_BINARY_DIR}/dbgparse.pc @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/dbgparse-static.pc.in ${PROJECT_BINARY_DIR}/dbgparse-static.pc
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/dbgparse.pc ${PROJECT_BINARY_DIR}/dbgparse-static.pc
        DESTINATION ${DBGPARSE_PKGCONFIG_DIR} COMPONENT development)
