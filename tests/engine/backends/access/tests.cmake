# The Access backend: its own parsers in process (access_reader_test), the
# backend through the reader process (access_open_test) and kesmark-diff end
# to end on the real and damaged files (access_cli_test), and against a SQLite
# copy the tests make (access_sqlite_copy_test).
kesmark_add_test(access_tests
  ${CMAKE_CURRENT_LIST_DIR}/access_fixtures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_open_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_queries_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_records_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_cli_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sqlite_copy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_sqlite_copy_test.cpp)
target_link_libraries(access_tests PRIVATE kesmark_access_reader nlohmann_json::nlohmann_json)
