brivlon_tests(trim_tests
  trim/trim_editor_test.cpp
  trim/trim_model_test.cpp
  trim/widgets_application.cpp
)
target_link_libraries(trim_tests PRIVATE kalvimorf_trim)
