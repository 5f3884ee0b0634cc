# Copies SOURCE to DESTINATION unless DESTINATION already exists: a settings
# file the user has edited is never overwritten by a build.
if(NOT EXISTS "${DESTINATION}")
  get_filename_component(dir "${DESTINATION}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${SOURCE}" "${DESTINATION}")
  file(CHMOD "${DESTINATION}" PERMISSIONS OWNER_READ OWNER_WRITE)
endif()
