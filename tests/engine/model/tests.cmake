# The model: values and their rules, node keys, the hierarchy and the object tree.
kesmark_add_test(model_tests
  ${CMAKE_CURRENT_LIST_DIR}/value_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/node_key_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/object_tree_test.cpp)
