# kesmark-diff end to end on SQLite files the tests build.
kesmark_add_test(cli_tests
  ${CMAKE_CURRENT_LIST_DIR}/cli_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/node_key_cli_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cli_options_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rows_by_key_test.cpp)
target_link_libraries(cli_tests PRIVATE nlohmann_json::nlohmann_json)
