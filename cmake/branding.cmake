# The branding file Morvane.dll, generated beside the programs in the build folder.
add_executable(morvane_make_branding ${CMAKE_CURRENT_LIST_DIR}/../src/app/tools/make_branding.cpp)
target_link_libraries(morvane_make_branding PRIVATE morvane_app)

set(MORVANE_BRANDING_FILE ${CMAKE_BINARY_DIR}/Morvane.dll)
add_custom_command(
  OUTPUT ${MORVANE_BRANDING_FILE}
  COMMAND morvane_make_branding ${MORVANE_BRANDING_FILE}
  DEPENDS morvane_make_branding
  COMMENT "Writing the branding file Morvane.dll"
  VERBATIM)
add_custom_target(morvane_branding ALL DEPENDS ${MORVANE_BRANDING_FILE})
