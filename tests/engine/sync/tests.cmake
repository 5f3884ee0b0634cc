# Sync scripts: the dialects' literals, and the script's promise checked on
# generated SQLite pairs with the real sqlite3.
kesmark_add_test(sync_tests
  ${CMAKE_CURRENT_LIST_DIR}/sql_dialect_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/run_findings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sync_property_test.cpp)
