kesmark_add_test(sqlite_tests
  ${CMAKE_CURRENT_LIST_DIR}/sqlite_open_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sql_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/schema_model_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/schema_run_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/schema_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/nodes_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalog_mode_test.cpp)
target_link_libraries(sqlite_tests PRIVATE nlohmann_json::nlohmann_json)
