# The SQLite backend: opening (sqlite_open_test), reading one consistent
# state whatever other programs do (sqlite_snapshot_test), what is said when
# a file or the temporary folder cannot be used (sqlite_failures_test), and
# the schema, read one table at a time (catalog_mode_test) and compared node
# for node as recorded (nodes_golden_test).
kesmark_add_test(sqlite_tests
  ${CMAKE_CURRENT_LIST_DIR}/sqlite_open_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sqlite_snapshot_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sqlite_failures_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sql_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/schema_model_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/schema_run_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/schema_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/nodes_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalog_mode_test.cpp)
target_link_libraries(sqlite_tests PRIVATE nlohmann_json::nlohmann_json)
