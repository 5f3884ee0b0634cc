# The options dialog's rules for reading and saving the comparison options,
# without the dialog.
kesmark_add_test(settings_options_tests
  ${CMAKE_CURRENT_LIST_DIR}/options_model_test.cpp)
