# Sources of the Access reader process (our own parsers and the request
# handling around libmdb), shared by the product build and the fuzzer build.
set(KESMARK_ACCESS_READER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/jet_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/property_block.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_schema.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_queries.cpp
  ${CMAKE_CURRENT_LIST_DIR}/access_records.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_session.cpp)
set(KESMARK_ACCESS_WIRE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/wire_format.cpp)
