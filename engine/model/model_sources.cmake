# Sources of the model library, shared by the product build and the fuzzer
# build (which compiles the Access reader with its own compiler flags).
set(KESMARK_MODEL_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/value.cpp
  ${CMAKE_CURRENT_LIST_DIR}/value_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/utf8.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connect_string.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program_folder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hierarchy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/node_key.cpp
  ${CMAKE_CURRENT_LIST_DIR}/object_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_order.cpp
  ${CMAKE_CURRENT_LIST_DIR}/row_checksum.cpp
  ${CMAKE_CURRENT_LIST_DIR}/range_sql.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sorted_recordset.cpp
  ${CMAKE_CURRENT_LIST_DIR}/object_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vocabulary.cpp)
