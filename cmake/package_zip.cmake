# The release zip for Windows: the two programs and the README, made by the
# default build as rigplot-<version>-windows-x64.zip in the build directory.
set(RIGPLOT_ZIP_NAME rigplot-${PROJECT_VERSION}-windows-x64)
set(RIGPLOT_ZIP ${CMAKE_BINARY_DIR}/${RIGPLOT_ZIP_NAME}.zip)
set(RIGPLOT_ZIP_FILES $<TARGET_FILE:rigplotd> ${CMAKE_SOURCE_DIR}/README.md)
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
  DEPENDS ${RIGPLOT_ZIP_TARGETS} ${CMAKE_SOURCE_DIR}/README.md
  COMMENT "Packing ${RIGPLOT_ZIP_NAME}.zip")
add_custom_target(package_zip ALL DEPENDS ${RIGPLOT_ZIP})
