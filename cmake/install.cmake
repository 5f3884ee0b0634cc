# Installation into the usual folders of a Linux system under
# CMAKE_INSTALL_PREFIX (cmake --install build [--prefix /usr]):
#   bin/                         kesmark, kesmark-diff
#   libexec/kesmark/             kesmark-mdb-worker, the Access reader process
#   share/kesmark/Kesmark.ini    the shipped default settings
#   share/applications/, share/icons/hicolor/scalable/apps/
#                                the desktop entry and its icon
#   share/man/man1/              kesmark.1, kesmark-diff.1
#   share/bash-completion/completions/kesmark-diff
#   share/doc/kesmark/           README.md, copyright, changelog.gz
include(GNUInstallDirs)

set(KESMARK_INSTALL_LIBEXECDIR ${CMAKE_INSTALL_LIBEXECDIR}/kesmark)
set(KESMARK_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/kesmark)

# The programs find the reader and the shipped settings relative to their own
# folder (engine/program_folder.h): an installation must keep that layout.
foreach(pair "${KESMARK_INSTALL_LIBEXECDIR};../libexec/kesmark"
             "${KESMARK_INSTALL_DATADIR};../share/kesmark")
  list(GET pair 0 folder)
  list(GET pair 1 expected)
  file(RELATIVE_PATH relative
    ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${folder})
  if(NOT relative STREQUAL expected)
    message(FATAL_ERROR "Kesmark finds ${folder} as ${expected} from its programs' folder, "
      "but the install folders chosen put it at ${relative}")
  endif()
endforeach()

# The build tree mirrors share/kesmark/, so that the programs in build/bin
# fall back to the shipped default as installed ones do. It holds no secret:
# readable by all.
configure_file(${CMAKE_SOURCE_DIR}/settings/Kesmark.default.ini
  ${CMAKE_BINARY_DIR}/share/kesmark/Kesmark.ini COPYONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Man pages and the changelog, compressed as a distribution ships them (-n:
# no name or time in the header, so the same text gives the same bytes).
set(man_pages)
foreach(page man/kesmark.1 man/kesmark-diff.1 changelog)
  get_filename_component(name ${page} NAME)
  if(page MATCHES "^man/")
    set(compressed ${CMAKE_BINARY_DIR}/share/man/man1/${name}.gz)
  else()
    set(compressed ${CMAKE_BINARY_DIR}/share/doc/kesmark/${name}.gz)
  endif()
  get_filename_component(folder ${compressed} DIRECTORY)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip
      ${CMAKE_SOURCE_DIR}/packaging/${page} ${compressed}
    DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${page}
    COMMENT "Compressing ${page}"
    VERBATIM)
  list(APPEND man_pages ${compressed})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})

set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(TARGETS kesmark-diff RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/share/man/man1/kesmark-diff.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${readable})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/bash-completion/kesmark-diff
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions PERMISSIONS ${readable})

if(TARGET kesmark-mdb-worker)
  install(TARGETS kesmark-mdb-worker RUNTIME DESTINATION ${KESMARK_INSTALL_LIBEXECDIR})
endif()

install(FILES ${CMAKE_SOURCE_DIR}/settings/Kesmark.default.ini
  DESTINATION ${KESMARK_INSTALL_DATADIR} RENAME Kesmark.ini PERMISSIONS ${readable})

if(TARGET kesmark)
  install(TARGETS kesmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/share/man/man1/kesmark.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 PERMISSIONS ${readable})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kesmark.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications PERMISSIONS ${readable})
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kesmark.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps PERMISSIONS ${readable})
endif()

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
    ${CMAKE_BINARY_DIR}/share/doc/kesmark/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kesmark PERMISSIONS ${readable})
