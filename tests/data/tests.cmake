kesmark_add_test(data_tests
  ${CMAKE_CURRENT_LIST_DIR}/table_data_test.cpp)
