# What `cmake --install` puts where: the library with its soname, what a host's build finds it
# by (CMake package, pkg-config file), the tools, the server with its service files, the manual
# pages and the documentation. Components group the files the way the Debian packages do.
include(CMakePackageConfigHelpers)

# Hosts test the version at compile time through the header's macros, so the header must name
# the version the library is built as.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/VornComClient.h vorncom_version_lines
  REGEX "^#define VORNCOM_VERSION_(MAJOR|MINOR|PATCH) ")
foreach(part MAJOR MINOR PATCH)
  string(REGEX MATCH "VORNCOM_VERSION_${part} ([0-9]+)" found "${vorncom_version_lines}")
  if(NOT found OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION_${part})
    message(FATAL_ERROR "include/VornComClient.h: VORNCOM_VERSION_${part} must be "
      "${PROJECT_VERSION_${part}}, the ${part} of project(VornCom VERSION ${PROJECT_VERSION})")
  endif()
endforeach()

# Each package keeps its copyright, changelog and documents in a folder named after it.
set(VORNCOM_PACKAGE_library libvorncomclient${PROJECT_VERSION_MAJOR})
set(VORNCOM_PACKAGE_dev libvorncomclient-dev)
set(VORNCOM_PACKAGE_tools vorncom-tools)
set(VORNCOM_PACKAGE_server vorncom-server)
set(VORNCOM_COMPONENTS library dev tools server)

set(VORNCOM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VornComClient)
# The unit goes where the system's service manager looks for packaged units. On Debian 12 that
# is /lib/systemd/system even with the /usr prefix, so ask systemd itself.
set(VORNCOM_SYSTEMD_UNIT_DIR "" CACHE PATH
  "Folder of the server's systemd unit (empty: systemd's own for prefix /usr, else lib/systemd/system under the prefix)")
set(vorncom_unit_dir "${VORNCOM_SYSTEMD_UNIT_DIR}")
if(NOT vorncom_unit_dir)
  set(vorncom_unit_dir lib/systemd/system)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    find_package(PkgConfig QUIET)
    if(PKG_CONFIG_FOUND)
      pkg_get_variable(systemd_unit_dir systemd systemdsystemunitdir)
      if(systemd_unit_dir)
        set(vorncom_unit_dir ${systemd_unit_dir})
      endif()
    endif()
  endif()
endif()

# The library, its soname link (library) and its link-time name (dev).
install(TARGETS VornComClient EXPORT VornComClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/VornComClient.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT VornComClientTargets NAMESPACE VornCom:: DESTINATION ${VORNCOM_CMAKE_DIR}
  COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/VornComClientConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VornComClientConfig.cmake INSTALL_DESTINATION ${VORNCOM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VornComClientConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
configure_file(${PROJECT_SOURCE_DIR}/packaging/vorncomclient.pc.in
  ${PROJECT_BINARY_DIR}/vorncomclient.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/VornComClientConfig.cmake
  ${PROJECT_BINARY_DIR}/VornComClientConfigVersion.cmake
  DESTINATION ${VORNCOM_CMAKE_DIR} COMPONENT dev)
install(FILES ${PROJECT_BINARY_DIR}/vorncomclient.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(TARGETS vorncom vornpkg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# An administrator's daemon, so sbin and manual section 8.
install(TARGETS vorncom-server RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT server)
# /usr keeps its settings in /etc; any other prefix keeps them inside, so that
# `cmake --install --prefix DIR` writes nothing outside DIR.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(vorncom_conf_dir ${CMAKE_INSTALL_FULL_SYSCONFDIR}/vorncom)
else()
  set(vorncom_conf_dir ${CMAKE_INSTALL_SYSCONFDIR}/vorncom)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/server.conf
  DESTINATION ${vorncom_conf_dir} COMPONENT server)
configure_file(${PROJECT_SOURCE_DIR}/packaging/vorncom-server.service.in
  ${PROJECT_BINARY_DIR}/vorncom-server.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vorncom-server.service
  DESTINATION ${vorncom_unit_dir} COMPONENT server)

# Documents: everything for host developers, the server's protocol and settings with the server.
set(doc_root ${CMAKE_INSTALL_DATAROOTDIR}/doc)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc_root}/${VORNCOM_PACKAGE_dev}
  COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${doc_root}/${VORNCOM_PACKAGE_dev}
  COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/docs/wire-protocol.md
  DESTINATION ${doc_root}/${VORNCOM_PACKAGE_server} COMPONENT server)

# Every package carries the copyright notice and the compressed changelog. gzip -n leaves out
# the time stamp, so the same sources give the same bytes.
set(changelog_gz ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${changelog_gz}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
add_custom_target(vorncom_changelog ALL DEPENDS ${changelog_gz})
foreach(component IN LISTS VORNCOM_COMPONENTS)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${changelog_gz}
    DESTINATION ${doc_root}/${VORNCOM_PACKAGE_${component}} COMPONENT ${component})
endforeach()

# Manual pages, made from each tool's own --help and --version so they never drift from the
# program. The sanitizer builds are never installed and skip them.
find_program(VORNCOM_HELP2MAN help2man)
if(VORNCOM_HELP2MAN AND NOT VORNCOM_FUZZ)
  function(vorncom_manual_page target section component name)
    set(page ${PROJECT_BINARY_DIR}/man/${target}.${section})
    set(extra ${PROJECT_SOURCE_DIR}/packaging/${target}.h2m)
    set(include_args)
    set(depends ${target})
    if(EXISTS ${extra})
      set(include_args --include=${extra})
      list(APPEND depends ${extra})
    endif()
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${VORNCOM_HELP2MAN} --no-info --locale=C.UTF-8 --section=${section} --name=${name}
        ${include_args}
        --output=${page} $<TARGET_FILE:${target}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${depends}
      VERBATIM)
    add_custom_target(${target}_manual_page ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
      COMPONENT ${component})
  endfunction()
  vorncom_manual_page(vorncom 1 tools "command-line host for the VornCom client library")
  vorncom_manual_page(vornpkg 1 tools "create, inspect and check VornCom form packages")
  vorncom_manual_page(vorncom-server 8 server "VornCom reference reception server")
elseif(NOT VORNCOM_FUZZ)
  message(STATUS "help2man not found: no manual pages (scripts/setup installs it)")
endif()

# Everything the install rules take, so that packages can be made without building the tests.
add_custom_target(vorncom_package_contents)
add_dependencies(vorncom_package_contents VornComClient vorncom vornpkg vorncom-server
  vorncom_changelog)
if(TARGET vorncom_manual_page)
  add_dependencies(vorncom_package_contents vorncom_manual_page vornpkg_manual_page
    vorncom-server_manual_page)
endif()
