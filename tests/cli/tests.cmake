# kesmark-diff end to end on SQLite files the tests build and on the shared
# Access files; the HTML report in a headless browser.
kesmark_add_test(cli_tests
  ${CMAKE_CURRENT_LIST_DIR}/cli_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/node_key_cli_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cli_options_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rows_by_key_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/html_report_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_parts_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/engine/backends/access/access_fixtures.cpp)
target_link_libraries(cli_tests PRIVATE kesmark_cli_reports kesmark_access_reader
  nlohmann_json::nlohmann_json util)
