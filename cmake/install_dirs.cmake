# Where `cmake --install` puts things: GNUInstallDirs, except that on Debian
# and its derivatives libraries go to the multiarch folder (for instance
# lib/x86_64-linux-gnu) whatever the prefix. The dynamic loader, pkg-config
# and find_package look there under /usr/local as under /usr, and Debian's
# packages must put their libraries there; GNUInstallDirs picks that folder
# for the prefix /usr alone.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
