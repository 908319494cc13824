# Read by cpack for each generator. Debian packages put files under /usr and /etc, and the
# paths written into the service unit and the pkg-config file come from the configured prefix.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "Debian packages need a build configured with -DCMAKE_INSTALL_PREFIX=/usr "
    "(this one has ${CPACK_PACKAGING_INSTALL_PREFIX})")
endif()
