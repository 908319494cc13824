# Debian packages from the install components, made by CPack's DEB generator: `cpack` in a build
# tree configured with -DCMAKE_INSTALL_PREFIX=/usr. CPack rather than a debian/ source package
# because the install rules already say where every file goes; a second description of the same
# layout in debhelper files would drift from them. Shared-library dependencies are computed by
# dpkg-shlibdeps; only what no binary links is listed here.
set(VORNCOM_PACKAGE_MAINTAINER "VornCom maintainers <maintainers@vorncom.example>" CACHE STRING
  "Maintainer field of the Debian packages")

# The changelog's newest entry names the packages' version; a release changes both together.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^vorncom \\(${PROJECT_VERSION}-([0-9]+)\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry must be for "
    "${PROJECT_VERSION}-N, the version of project(); it is: ${changelog_head}")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_1})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorncom)
set(CPACK_PACKAGE_VENDOR "The VornCom developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VORNCOM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack_options.cmake)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${VORNCOM_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE vorncom)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

foreach(component IN LISTS VORNCOM_COMPONENTS)
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${VORNCOM_PACKAGE_${component}})
endforeach()

set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# dpkg refreshes the loader's cache through the trigger.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/libvorncomclient1/triggers)
# Hosts built against 1.3 need at least 1.3: the shlibs file says so for dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Loaded at run time, never linked: the offscreen platform for hosts without a display, and the
# fonts metric-compatible with the Arial the windows and the receipt are laid out in.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
  "client library for sending electronic form packages
libVornComClient lets a desktop form-filling program send electronic form
packages to an agency's reception servers, falling back across a server list;
ask whether a server takes a form type and version; tell whether a package was
already sent; download files; and preview and print the transmission receipt.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS library)
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "client library for sending electronic form packages - development files
libVornComClient lets a desktop form-filling program send electronic form
packages to an agency's reception servers.
.
This package holds the header VornComClient.h, the CMake package
(find_package(VornComClient) with the target VornCom::Client), the pkg-config
file vorncomclient and the host integration guide.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
# vorncom loads the library with dlopen, so no link records the dependency.
set(CPACK_COMPONENT_TOOLS_DEPENDS library)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
  "command-line host and form package tool for VornCom
vorncom calls the client library's exports the way a desktop host does (send,
sent, get, status, receipt), so the library can be driven from scripts.
vornpkg creates, lists, extracts and checks form packages and edits the server
list of a client configuration.")

set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS adduser)
set(CPACK_COMPONENT_SERVER_DESCRIPTION
  "reference reception server for VornCom clients
vorncom-server receives form packages from the client library, checks them,
gives each a protocol number and stores it, and serves files for download.
.
It runs as the systemd service vorncom-server under its own system user
vorncom, with its settings in /etc/vorncom/server.conf and its data in
/var/lib/vorncom.")
set(server_scripts ${PROJECT_SOURCE_DIR}/packaging/debian/vorncom-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
  ${server_scripts}/conffiles ${server_scripts}/postinst ${server_scripts}/prerm
  ${server_scripts}/postrm)

include(CPack)
