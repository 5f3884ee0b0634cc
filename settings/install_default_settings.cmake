# Copies SOURCE to DESTINATION unless DESTINATION already exists: a settings
# file the user has edited is never overwritten by a build. The default holds
# no secret, so it is readable by every user of the machine; a copy that an
# earlier build left readable by its owner only, and that nobody has changed
# since, is opened up too.
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(NOT EXISTS "${DESTINATION}")
  get_filename_component(dir "${DESTINATION}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${SOURCE}" "${DESTINATION}")
  file(CHMOD "${DESTINATION}" PERMISSIONS ${readable})
else()
  file(SHA256 "${SOURCE}" shipped)
  file(SHA256 "${DESTINATION}" placed)
  if(shipped STREQUAL placed)
    file(CHMOD "${DESTINATION}" PERMISSIONS ${readable})
  endif()
endif()
