# SPDX-License-Identifier: MIT
# The Windows installer, rigplot-<version>-setup-x64.exe in the build
# directory, made by the default build beside the zip when makensis (Debian:
# nsis) is there. The script is packaging/windows/rigplot.nsi; the licence and
# the notices are package_zip.cmake's.
find_program(MAKENSIS makensis)
if(NOT MAKENSIS OR NOT TARGET rigplot)
  message(STATUS "No Windows installer: needs makensis and rigplot.exe")
  return()
endif()
set(RIGPLOT_SETUP ${CMAKE_BINARY_DIR}/rigplot-${PROJECT_VERSION}-setup-x64.exe)
set(RIGPLOT_NSI ${CMAKE_SOURCE_DIR}/packaging/windows/rigplot.nsi)
add_custom_command(OUTPUT ${RIGPLOT_SETUP}
  COMMAND ${MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION}
    -DRIGPLOT_EXE=$<TARGET_FILE:rigplot> -DRIGPLOTD_EXE=$<TARGET_FILE:rigplotd>
    -DREADME=${CMAKE_SOURCE_DIR}/README.md -DLICENSE=${RIGPLOT_LICENSE} -DNOTICES=${RIGPLOT_NOTICES}
    -DOUTFILE=${RIGPLOT_SETUP} ${RIGPLOT_NSI}
  DEPENDS rigplot rigplotd ${RIGPLOT_NSI} ${CMAKE_SOURCE_DIR}/README.md ${RIGPLOT_LICENSE}
    ${RIGPLOT_NOTICES}
  COMMENT "Making rigplot-${PROJECT_VERSION}-setup-x64.exe"
  VERBATIM)
add_custom_target(package_installer ALL DEPENDS ${RIGPLOT_SETUP})
