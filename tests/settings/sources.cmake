brivlon_tests(settings_tests
  settings/loopback_server.cpp
  settings/updates_test.cpp
  settings/feedback_test.cpp
  settings/settings_window_test.cpp
  settings/maintenance_cli_test.cpp
)
target_link_libraries(settings_tests PRIVATE kalvimorf_settings)
