# The file, ODBC logon and options dialogs, driven for real on Qt's offscreen
# platform, alone and from the main window. The data sources come from the
# real driver manager, with a test-local odbc.ini and odbcinst.ini.
if(TARGET kesmark_ui)
  find_library(KESMARK_SQLITE_ODBC_DRIVER NAMES sqlite3odbc PATH_SUFFIXES odbc)
  add_executable(ui_dialog_tests
    ${CMAKE_CURRENT_LIST_DIR}/../ui_test_main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dialog_test_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/file_dialog_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/odbc_logon_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/options_dialog_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_window_dialogs_test.cpp)
  target_link_libraries(ui_dialog_tests PRIVATE kesmark_ui kesmark_test_support GTest::gtest)
  target_compile_definitions(ui_dialog_tests PRIVATE
    KESMARK_SQLITE_ODBC_DRIVER="${KESMARK_SQLITE_ODBC_DRIVER}")
  gtest_discover_tests(ui_dialog_tests DISCOVERY_TIMEOUT 60
    DISCOVERY_EXTRA_ARGS ""
    PROPERTIES LABELS gui FIXTURES_REQUIRED testdata
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
