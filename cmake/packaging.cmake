# SPDX-License-Identifier: MIT
# Debian packages, made with `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr, CMAKE_INSTALL_SYSCONFDIR=/etc and
# CMAKE_INSTALL_LOCALSTATEDIR=/var (scripts/package.sh does all that):
#   rigplotd  the service, its unit, account, settings file and state folder,
#             rigplot-sim, and their manual pages
#   rigplot   the desktop program, its menu entry and icons
# Version: the project's, with Debian revision 1.
include(GNUInstallDirs)

set(RIGPLOT_MAINTAINER "RIGPLOT maintainers <maintainers@users.noreply.c-seed-d3858044.example>"
  CACHE STRING "Maintainer field of the Debian packages")
set(RIGPLOT_DEB_REVISION 1)
set(RIGPLOT_DEB_VERSION ${PROJECT_VERSION}-${RIGPLOT_DEB_REVISION})
set(RIGPLOT_DEB_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(RIGPLOT_DEB_BUILD ${PROJECT_BINARY_DIR}/debian)

# What the service needs outside bin/: the settings file and the options
# (both conffiles), and the state folder the unit writes to (systemd makes it
# too, so only the package carries it). EXCLUDE_FROM_ALL: in the packages,
# which install component by component, but not by a plain `cmake --install`.
# Relative to the install prefix (/usr/local/etc by default) unless configured
# absolute, as scripts/package.sh does for /etc.
install(FILES ${RIGPLOT_DEB_DIR}/RIGPLOT.ini
  DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/rigplot COMPONENT service)
install(FILES ${RIGPLOT_DEB_DIR}/rigplotd.default
  DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/default RENAME rigplotd COMPONENT service)
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/rigplot COMPONENT service
  EXCLUDE_FROM_ALL)

# Each package carries the changelog (gzip -n: the same bytes every build)
# and the copyright file in usr/share/doc/PACKAGE. The changelog has one entry
# per version with its own date: a new version needs its entry first.
file(STRINGS ${RIGPLOT_DEB_DIR}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^rigplot \\(${RIGPLOT_DEB_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog has no entry on top for ${RIGPLOT_DEB_VERSION}: "
    "${changelog_top}")
endif()
configure_file(${RIGPLOT_DEB_DIR}/changelog ${RIGPLOT_DEB_BUILD}/changelog.Debian COPYONLY)
add_custom_command(OUTPUT ${RIGPLOT_DEB_BUILD}/changelog.Debian.gz
  COMMAND gzip -9nkf ${RIGPLOT_DEB_BUILD}/changelog.Debian
  DEPENDS ${RIGPLOT_DEB_DIR}/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(deb-changelog ALL DEPENDS ${RIGPLOT_DEB_BUILD}/changelog.Debian.gz)
set(RIGPLOT_DEB_PACKAGES service:rigplotd)
if(TARGET rigplot)
  list(APPEND RIGPLOT_DEB_PACKAGES desktop:rigplot)
endif()
foreach(entry ${RIGPLOT_DEB_PACKAGES})
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 component)
  list(GET entry 1 package)
  install(FILES ${RIGPLOT_DEB_BUILD}/changelog.Debian.gz ${RIGPLOT_DEB_DIR}/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  # The packages are not uploaded to Debian: no bug to close there.
  file(WRITE ${RIGPLOT_DEB_BUILD}/${package}.lintian-overrides
    "${package}: initial-upload-closes-no-bugs\n")
  install(FILES ${RIGPLOT_DEB_BUILD}/${package}.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${package}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# The conffiles list names the installed paths.
file(WRITE ${RIGPLOT_DEB_BUILD}/conffiles
  "${CMAKE_INSTALL_FULL_SYSCONFDIR}/rigplot/RIGPLOT.ini\n"
  "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/rigplotd\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rigplot)
set(CPACK_PACKAGE_VENDOR RIGPLOT)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${RIGPLOT_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL service)
if(TARGET rigplot)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${RIGPLOT_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${RIGPLOT_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE rigplot)
if(CMAKE_CROSSCOMPILING)
  # Debian's name for the target, not the build machine's.
  set(RIGPLOT_DEB_ARCHES aarch64:arm64 arm:armhf x86_64:amd64 i686:i386)
  foreach(pair ${RIGPLOT_DEB_ARCHES})
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 processor)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL processor)
      list(GET pair 1 CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    endif()
  endforeach()
  if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    message(FATAL_ERROR "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
endif()

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME rigplotd)
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS "adduser, init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
  ${RIGPLOT_DEB_DIR}/postinst ${RIGPLOT_DEB_DIR}/prerm ${RIGPLOT_DEB_DIR}/postrm
  ${RIGPLOT_DEB_BUILD}/conffiles)
set(CPACK_COMPONENT_SERVICE_DESCRIPTION
  "D-STAR position reports to a map, as a service
rigplotd listens to a D-STAR transceiver on its serial data port, decodes
the position reports it passes on ($GPRMC sentence and callsign line),
keeps a table of up to 100 heard stations and rewrites a map script after
every report; on request also GeoJSON, KML, a CSV log and a live map page.

It runs as a systemd service under its own account, rides out a pulled USB
adapter and never writes to the radio. The package also holds rigplot-sim,
a simulated radio on a pseudo-terminal for trying it out.")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME rigplot)
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION
  "D-STAR position reports to a map, desktop program
rigplot listens to a D-STAR transceiver on its serial data port, decodes
the position reports it passes on ($GPRMC sentence and callsign line),
keeps a table of up to 100 heard stations and rewrites a map script after
every report for a map viewer to plot.

This package holds the desktop program with its menu entry; rigplotd is
the same radio link without a window.")

include(CPack)
