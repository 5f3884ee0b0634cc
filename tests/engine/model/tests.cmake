# The model: values and their rules, the vocabulary, node keys and the
# hierarchy, the key order and the bounded sort, connect strings, the object
# tree.
kesmark_add_test(model_tests
  ${CMAKE_CURRENT_LIST_DIR}/value_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vocabulary_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/node_key_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_order_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connect_string_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/object_tree_test.cpp)
