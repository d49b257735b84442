# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE): the Debian
# package takes the `system` install component, the portable archive the
# `portable` one, so each gets its own layout from the same build.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_QUORVEL_BINARY_DIR};QuorvelCE;system;/")
elseif(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_QUORVEL_BINARY_DIR};QuorvelCE;portable;/")
  set(CPACK_PACKAGING_INSTALL_PREFIX "")
endif()
