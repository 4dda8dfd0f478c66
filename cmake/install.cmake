# Installation and packages. `cmake --install` puts the program and, outside
# Windows, its manual page in place; `cpack` makes a .deb on Linux and, in a
# Windows build, a .zip that holds dbgparse.exe with the README and license.
include(GNUInstallDirs)

if(WIN32)
  # Unpacked, the zip is one folder to drop DBG files into: no bin/ level.
  install(TARGETS dbgparse RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  install(TARGETS dbgparse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES doc/dbgparse.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Debian keeps the license text as the package's copyright file.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

set(CPACK_PACKAGE_NAME dbgparse)
set(CPACK_PACKAGE_VENDOR "dbgparse developers")
set(CPACK_PACKAGE_CONTACT "dbgparse developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "dbgparse turns the checksum list of a DBG file into the compact binary QB checksum table.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  find_program(DBGPARSE_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(DBGPARSE_DPKG_SHLIBDEPS)
    # The C and C++ runtimes the program links against become dependencies.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()

include(CPack)
