# The comparison run over the in-memory backend, matching, and the one-pass
# data comparison over real SQLite files.
kesmark_add_test(compare_tests
  ${CMAKE_CURRENT_LIST_DIR}/matching_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/result_tree_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/differences_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/run_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cross_engine_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_data_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_checksums_test.cpp)
