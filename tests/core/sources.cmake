brivlon_tests(core_tests
  core/catalog_test.cpp
  core/output_paths_test.cpp
  core/process_test.cpp
  core/settings_test.cpp
  core/error_log_test.cpp
  core/entry_point_test.cpp
)
