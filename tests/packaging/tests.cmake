# The installation (cmake --install into a DESTDIR), the Debian package, the
# man pages, the shell completion and the desktop entry.
kesmark_add_test(packaging_tests ${CMAKE_CURRENT_LIST_DIR}/install_test.cpp)
if(TARGET kesmark)
  set(has_gui 1)
else()
  set(has_gui 0)
endif()
target_compile_definitions(packaging_tests PRIVATE
  KESMARK_BINARY_DIR="${CMAKE_BINARY_DIR}"
  KESMARK_CMAKE_COMMAND="${CMAKE_COMMAND}"
  KESMARK_HAS_GUI=${has_gui})
# Everything that is installed must be built first.
add_dependencies(packaging_tests man_pages)
if(TARGET kesmark-mdb-worker)
  add_dependencies(packaging_tests kesmark-mdb-worker)
endif()
if(TARGET kesmark)
  add_dependencies(packaging_tests kesmark)
endif()
