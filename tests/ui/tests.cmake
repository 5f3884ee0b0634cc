# The desktop program's window, driven for real on Qt's offscreen platform.
if(TARGET kesmark_ui)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  add_executable(ui_tests
    ${CMAKE_CURRENT_LIST_DIR}/ui_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bars_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/diff_pane_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/results_test.cpp)
  target_link_libraries(ui_tests PRIVATE kesmark_ui kesmark_test_support
    nlohmann_json::nlohmann_json GTest::gtest Qt6::Test)
  gtest_discover_tests(ui_tests DISCOVERY_TIMEOUT 60
    DISCOVERY_EXTRA_ARGS ""
    PROPERTIES LABELS gui FIXTURES_REQUIRED testdata
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
