# Installation and packages. `cmake --install` puts the programs and, outside
# Windows, their manual pages and the library for other programs
# (library.cmake) in place; `cpack` makes on Linux three .deb packages,
# dbgparse (the programs), libdbgparse2 (the shared library) and
# libdbgparse-dev (what building against it takes), and in a Windows build a
# .zip that holds the programs with the README and license. Included at the
# end of the top-level CMakeLists.txt, once every target is defined.

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
  # The DLL carries version information too.
  configure_file(${PROJECT_SOURCE_DIR}/package/windows/library.rc.in
                 ${PROJECT_BINARY_DIR}/resources/dbgparse.dll.rc @ONLY)
  target_sources(libdbgparse PRIVATE ${PROJECT_BINARY_DIR}/resources/dbgparse.dll.rc)

  # Unpacked, the zip is one folder to drop DBG files into: no bin/ level.
  # Its texts have CR LF line ends, so that any Notepad shows their lines.
  install(TARGETS ${programs} RUNTIME DESTINATION .)
  file(READ ${PROJECT_SOURCE_DIR}/package/windows/README.txt readme)
  string(REPLACE "@VERSION@" "${PROJECT_VERSION}" readme "${readme}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    string(REPLACE "@WIDTH@" "32-bit" readme "${readme}")
    string(REPLACE "@MACHINE@" "x86" readme "${readme}")
  else()
    string(REPLACE "@WIDTH@" "64-bit" readme "${readme}")
    string(REPLACE "@MACHINE@" "x64" readme "${readme}")
  endif()
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
  # The library for Windows tools: the DLL, its import library for mingw,
  # the .def file from which MSVC's lib makes one, the header, and the C#
  # wrapper that a C# project adds; the last three are text, with CR LF line
  # ends as the README's.
  install(TARGETS libdbgparse RUNTIME DESTINATION . ARCHIVE DESTINATION .)
  foreach(source IN ITEMS lib/include/dbgparse.h lib/dbgparse.def bindings/csharp/Dbgparse.cs)
    get_filename_component(name ${source} NAME)
    file(READ ${PROJECT_SOURCE_DIR}/${source} text)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${source})
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/zip/${name} "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/zip/${name} DESTINATION .)
  endforeach()

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  include(CPack)
  return()
endif()

install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT programs)
# What lintian is told to let pass in the programs' package, with the reason.
install(FILES ${PROJECT_SOURCE_DIR}/package/debian/dbgparse.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME dbgparse COMPONENT programs)
include(${CMAKE_CURRENT_LIST_DIR}/library.cmake)

# The Debian package of each install component. Each package has a
# documentation folder of its own, named after it, with the copyright file
# and the changelog.
set(DBGPARSE_PACKAGE_OF programs dbgparse library libdbgparse2 development libdbgparse-dev)
function(dbgparse_install_for_each_package file folder)
  set(pairs ${DBGPARSE_PACKAGE_OF})
  while(pairs)
    list(POP_FRONT pairs component package)
    string(REPLACE "PACKAGE" "${package}" destination "${folder}")
    get_filename_component(name "${destination}" NAME)
    get_filename_component(destination "${destination}" DIRECTORY)
    install(FILES ${file} DESTINATION ${destination} RENAME ${name} COMPONENT ${component})
  endwhile()
endfunction()

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
  install(FILES ${PROJECT_BINARY_DIR}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT programs)
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
dbgparse_install_for_each_package(${PROJECT_BINARY_DIR}/changelog.Debian.gz
                                  ${CMAKE_INSTALL_DATAROOTDIR}/doc/PACKAGE/changelog.Debian.gz)

add_custom_target(dbgparse_compressed_docs ALL DEPENDS ${compressed})


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
dbgparse_install_for_each_package(${PROJECT_BINARY_DIR}/copyright
                                  ${CMAKE_INSTALL_DATAROOTDIR}/doc/PACKAGE/copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# One package per component, all from the one source package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs library development)
set(CPACK_DEBIAN_PACKAGE_SOURCE dbgparse)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME dbgparse)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libdbgparse${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libdbgparse-dev)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libdbgparse${PROJECT_VERSION_MAJOR} (= ${deb_version})")
# Each description's first line is its package's summary: with the summary
# left at CPack's default, CPack puts no common one in front of them.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "${PROJECT_DESCRIPTION}
${CPACK_PACKAGE_DESCRIPTION}")
set(library_description
    "dbgparse's library, libdbgparse, converts DBG checksum lists into QB
checksum tables exactly as dbgparse does and reads the tables back, entry by
entry, through a small C interface.")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "library converting DBG checksum lists into QB checksum tables
${library_description}
.
This package holds the shared library.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "development files for libdbgparse, DBG lists to QB tables
${library_description}
.
This package holds the header, the static library, the pkg-config file and
the CMake package for building programs against it.")
# Directories in the package are rwxr-xr-x whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
find_program(DBGPARSE_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DBGPARSE_DPKG_SHLIBDEPS)
  # The C and C++ runtimes the programs link against become dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/library_package.cmake)

include(CPack)
