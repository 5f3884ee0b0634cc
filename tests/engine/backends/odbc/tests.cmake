# The ODBC backend through the real driver manager and real drivers: SQLite
# files through libsqliteodbc, and a throwaway PostgreSQL server through
# odbc-postgresql. The drivers are registered in a test-local odbcinst.ini.
find_library(KESMARK_SQLITE_ODBC_DRIVER NAMES sqlite3odbc PATH_SUFFIXES odbc)
find_library(KESMARK_POSTGRES_ODBC_DRIVER NAMES psqlodbcw.so psqlodbcw PATH_SUFFIXES odbc)
set(KESMARK_POSTGRES_STATE_DIR ${CMAKE_BINARY_DIR}/odbc-postgres)

kesmark_add_test(odbc_tests
  ${CMAKE_CURRENT_LIST_DIR}/odbc_test_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_rules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_sqlite_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_postgres_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_reading_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_password_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_migration_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_sync_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_catalog_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_checksums_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/odbc_copy_test.cpp)
target_link_libraries(odbc_tests PRIVATE nlohmann_json::nlohmann_json)
target_compile_definitions(odbc_tests PRIVATE
  KESMARK_SQLITE_ODBC_DRIVER="${KESMARK_SQLITE_ODBC_DRIVER}"
  KESMARK_POSTGRES_ODBC_DRIVER="${KESMARK_POSTGRES_ODBC_DRIVER}"
  KESMARK_POSTGRES_STATE_DIR="${KESMARK_POSTGRES_STATE_DIR}")

# The suite's PostgreSQL server: started before the ODBC tests, stopped after.
add_test(NAME odbc_postgres_start
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/test-postgres.sh start ${KESMARK_POSTGRES_STATE_DIR})
add_test(NAME odbc_postgres_stop
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/test-postgres.sh stop ${KESMARK_POSTGRES_STATE_DIR})
set_tests_properties(odbc_postgres_start PROPERTIES FIXTURES_SETUP odbc_postgres)
set_tests_properties(odbc_postgres_stop PROPERTIES FIXTURES_CLEANUP odbc_postgres)

# The ODBC tests are discovered when ctest runs; this file, read after the
# discovered list, makes each of them need the server too, and the sync
# tests, which share the databases kesmark_sync_a and kesmark_sync_b, run
# one at a time.
set(odbc_fixture_file ${CMAKE_CURRENT_BINARY_DIR}/odbc_tests_fixture.cmake)
file(WRITE ${odbc_fixture_file}
  "foreach(odbc_test IN LISTS odbc_tests_TESTS)\n"
  "  set_tests_properties(\"\${odbc_test}\" PROPERTIES FIXTURES_REQUIRED \"testdata;odbc_postgres\")\n"
  "  if(odbc_test MATCHES \"^OdbcSync[.]\")\n"
  "    set_tests_properties(\"\${odbc_test}\" PROPERTIES RESOURCE_LOCK kesmark_sync_databases)\n"
  "  endif()\n"
  "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${odbc_fixture_file})

# The long-value reader of bench/odbc-bench.sh (a benchmark tool, run by
# hand): reads one field's values through FieldSize and GetChunk.
add_executable(long_value_reader ${CMAKE_SOURCE_DIR}/bench/long_value_reader.cpp)
target_link_libraries(long_value_reader PRIVATE kesmark_open)
