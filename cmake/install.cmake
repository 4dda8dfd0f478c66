# Installation and packages. `cmake --install` puts the programs and, outside
# Windows, their manual pages in place; `cpack` makes a .deb on Linux and, in a
# Windows build, a .zip that holds the programs with the README and license.
# Included at the end of the top-level CMakeLists.txt, once every target is
# defined.
include(GNUInstallDirs)

# The project's programs; those that this build defines are installed.
set(DBGPARSE_PROGRAMS dbgparse qbdump)
set(programs)
foreach(program IN LISTS DBGPARSE_PROGRAMS)
  if(TARGET ${program})
    list(APPEND programs ${program})
  endif()
endforeach()

set(CPACK_PACKAGE_NAME dbgparse)
set(CPACK_PACKAGE_VENDOR "dbgparse developers")
set(CPACK_PACKAGE_CONTACT "dbgparse developers <dbgparse@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Debian shows each line as it stands: keep them within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "dbgparse turns the checksum list of a DBG file, 32-bit checksums in
hexadecimal each with a name, into the compact binary QB checksum table that
other programs load. qbdump shows the entries of such a table as text.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # Each program carries a manifest (long paths, the Windows versions it is
  # made for) and version information.
  set(DBGPARSE_RC_DESCRIPTION_dbgparse "${PROJECT_DESCRIPTION}")
  set(DBGPARSE_RC_DESCRIPTION_qbdump "Shows the entries of a QB checksum table")
  set(DBGPARSE_RC_MANIFEST "${PROJECT_SOURCE_DIR}/platform/windows/program.manifest")
  foreach(program IN LISTS programs)
    set(DBGPARSE_RC_NAME ${program})
    set(DBGPARSE_RC_DESCRIPTION "${DBGPARSE_RC_DESCRIPTION_${program}}")
    configure_file(${PROJECT_SOURCE_DIR}/platform/windows/program.rc.in
                   ${PROJECT_BINARY_DIR}/resources/${program}.rc @ONLY)
    target_sources(${program} PRIVATE ${PROJECT_BINARY_DIR}/resources/${program}.rc)
    set_property(SOURCE ${PROJECT_BINARY_DIR}/resources/${program}.rc TARGET_DIRECTORY ${program}
                 APPEND PROPERTY OBJECT_DEPENDS ${DBGPARSE_RC_MANIFEST})
  endforeach()

  # Unpacked, the zip is one folder to drop DBG files into: no bin/ level.
  # Its texts have CR LF line ends, so that any Notepad shows their lines.
  install(TARGETS ${programs} RUNTIME DESTINATION .)
  file(READ ${PROJECT_SOURCE_DIR}/package/windows/README.txt readme)
  string(REPLACE "@VERSION@" "${PROJECT_VERSION}" readme "${readme}")
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/package/windows/README.txt ${PROJECT_SOURCE_DIR}/LICENSE)
  foreach(text IN ITEMS readme license)
    string(REPLACE "\r\n" "\n" ${text} "${${text}}")
    string(REPLACE "\n" "\r\n" ${text} "${${text}}")
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/zip/README.txt "${readme}")
  file(WRITE ${PROJECT_BINARY_DIR}/zip/LICENSE.txt "${license}")
  install(FILES ${PROJECT_BINARY_DIR}/zip/README.txt ${PROJECT_BINARY_DIR}/zip/LICENSE.txt
          DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/sample.dbg DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  include(CPack)
  return()
endif()

install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages and the Debian changelog are installed compressed, as Debian
# wants them, and reproducibly: no name or time stamp in the gzip header.
find_program(DBGPARSE_GZIP gzip REQUIRED)
set(compressed)
function(dbgparse_gzip source plain)
  add_custom_command(
    OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
    COMMAND ${DBGPARSE_GZIP} -9n --force ${plain}
    DEPENDS ${source}
    COMMENT "Compressing ${source}"
    VERBATIM)
  set(compressed ${compressed} ${plain}.gz PARENT_SCOPE)
endfunction()

file(GLOB pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/doc/*.1)
foreach(page IN LISTS pages)
  get_filename_component(name ${page} NAME)
  dbgparse_gzip(${page} ${PROJECT_BINARY_DIR}/man/${name})
  install(FILES ${PROJECT_BINARY_DIR}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The package's changelog; its latest entry must be for the version built.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(changelog ${PROJECT_SOURCE_DIR}/package/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(READ ${changelog} latest)
string(REGEX MATCH "^[^\n]*" latest "${latest}")
set(expected "dbgparse (${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}) ")
string(FIND "${latest}" "${expected}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "${changelog} begins `${latest}`; add an entry `${expected}...` for this version")
endif()
dbgparse_gzip(${changelog} ${PROJECT_BINARY_DIR}/changelog.Debian)
install(FILES ${PROJECT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

add_custom_target(dbgparse_compressed_docs ALL DEPENDS ${compressed})

# What lintian is told to let pass, each with its reason, travels in the package.
install(FILES ${PROJECT_SOURCE_DIR}/package/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME dbgparse)

# Debian's machine-readable copyright file, with the license text of LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" holder "${license}")
string(FIND "${license}" "Permission is hereby granted" terms)
if(NOT holder OR terms EQUAL -1)
  message(FATAL_ERROR "LICENSE no longer reads as the MIT license; update ${CMAKE_CURRENT_LIST_FILE}")
endif()
set(holder "${CMAKE_MATCH_1}")
string(SUBSTRING "${license}" ${terms} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(
  WRITE ${PROJECT_BINARY_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: dbgparse
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${holder}
License: Expat
 ${terms}
")
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Directories in the package are rwxr-xr-x whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
find_program(DBGPARSE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DBGPARSE_DPKG_SHLIBDEPS)
  # The C and C++ runtimes the programs link against become dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
