# Read by cpack for each package it makes. The Debian changelog, left out of a
# plain install, goes into the Debian package alone, beside every other file.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL_IN_ONE_PACKAGE ON)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
endif()
