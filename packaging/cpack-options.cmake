# Read by cpack for each package it makes, after the last package's settings: each branch sets
# every variable either one sets. The Debian package installs under /usr, as Debian's own do, and
# holds Debian's copyright and changelog files; the archive holds a folder of the package's name,
# and LICENSE.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_COMPONENTS_ALL program debian)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
    set(CPACK_PACKAGING_INSTALL_PREFIX /)
    set(CPACK_COMPONENTS_ALL program license)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
