kesmark_add_test(view_tests
  ${CMAKE_CURRENT_LIST_DIR}/result_view_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/show_golden_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_diff_test.cpp)
target_link_libraries(view_tests PRIVATE nlohmann_json::nlohmann_json)
