# The settings file, the option lists and the options dialog's rules for
# reading and saving them, without the dialog.
kesmark_add_test(settings_tests
  ${CMAKE_CURRENT_LIST_DIR}/ini_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/option_lists_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_location_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options_model_test.cpp)
