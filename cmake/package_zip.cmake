# SPDX-License-Identifier: MIT
# The release zip for Windows: the two programs, the README, the licence and
# the third parties' notices, made by the default build as
# rigplot-<version>-windows-x64.zip in the build directory.

# What the .exe files carry from others, one notice each from
# packaging/notices: the HTTP library, the map library, SQLite and the runtime that
# -static links in.
set(RIGPLOT_WINDOWS_NOTICES boost leaflet sqlite mingw-w64 gcc-runtime)
set(RIGPLOT_NOTICES_TEXT
  "RIGPLOT for Windows carries these parts made by others, each under its own licence.\n")
# The page's coastline keeps its licence next to it.
set(RIGPLOT_NOTICE_FILES)
foreach(part ${RIGPLOT_WINDOWS_NOTICES})
  list(APPEND RIGPLOT_NOTICE_FILES ${CMAKE_SOURCE_DIR}/packaging/notices/${part}.txt)
endforeach()
list(APPEND RIGPLOT_NOTICE_FILES ${CMAKE_SOURCE_DIR}/web/page/coast.LICENSE.txt)
foreach(file ${RIGPLOT_NOTICE_FILES})
  file(READ ${file} text)
  string(APPEND RIGPLOT_NOTICES_TEXT "\n==============================================================================\n\n${text}")
endforeach()
# CR LF, for every Windows text viewer.
set(RIGPLOT_NOTICES ${CMAKE_BINARY_DIR}/THIRD-PARTY-NOTICES.txt)
set(RIGPLOT_LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license_text)
foreach(pair "RIGPLOT_NOTICES_TEXT;${RIGPLOT_NOTICES}" "license_text;${RIGPLOT_LICENSE}")
  list(GET pair 0 text)
  list(GET pair 1 path)
  string(REPLACE "\n" "\r\n" text "${${text}}")
  file(WRITE ${path} "${text}")
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RIGPLOT_NOTICE_FILES})

set(RIGPLOT_ZIP_NAME rigplot-${PROJECT_VERSION}-windows-x64)
set(RIGPLOT_ZIP ${CMAKE_BINARY_DIR}/${RIGPLOT_ZIP_NAME}.zip)
set(RIGPLOT_ZIP_FILES $<TARGET_FILE:rigplotd> ${CMAKE_SOURCE_DIR}/README.md ${RIGPLOT_LICENSE}
  ${RIGPLOT_NOTICES})
set(RIGPLOT_ZIP_TARGETS rigplotd)
if(TARGET rigplot)
  list(PREPEND RIGPLOT_ZIP_FILES $<TARGET_FILE:rigplot>)
  list(APPEND RIGPLOT_ZIP_TARGETS rigplot)
endif()
set(RIGPLOT_ZIP_STAGE ${CMAKE_BINARY_DIR}/zip/${RIGPLOT_ZIP_NAME})
add_custom_command(OUTPUT ${RIGPLOT_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/zip ${RIGPLOT_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RIGPLOT_ZIP_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${RIGPLOT_ZIP_FILES} ${RIGPLOT_ZIP_STAGE}
  COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/zip
    ${CMAKE_COMMAND} -E tar cf ${RIGPLOT_ZIP} --format=zip ${RIGPLOT_ZIP_NAME}
  DEPENDS ${RIGPLOT_ZIP_TARGETS} ${CMAKE_SOURCE_DIR}/README.md ${RIGPLOT_LICENSE} ${RIGPLOT_NOTICES}
  COMMENT "Packing ${RIGPLOT_ZIP_NAME}.zip")
add_custom_target(package_zip ALL DEPENDS ${RIGPLOT_ZIP})
