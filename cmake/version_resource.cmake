# SPDX-License-Identifier: MIT
# Windows resources need the RC language; windres comes with the toolchain.
enable_language(RC)

# rigplot_version_resource(TARGET DESCRIPTION): gives a Windows program a
# VERSIONINFO resource with the project's version, the one set in project().
function(rigplot_version_resource target description)
  set(RIGPLOT_RC_NAME ${target})
  set(RIGPLOT_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
