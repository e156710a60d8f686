# Read by cpack for each package it makes: the Debian package installs under /usr, as Debian's own
# do; the archive keeps its files at its top.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
