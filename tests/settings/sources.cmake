brivlon_tests(settings_tests
  settings/updates_test.cpp
  settings/feedback_test.cpp
  settings/settings_window_test.cpp
  settings/maintenance_cli_test.cpp
)
target_link_libraries(settings_tests PRIVATE kalvimorf_settings)

# The settings window opened from the main window's keys, and the first update check of a normal
# start, on a real X server.
add_executable(settings_probe settings/settings_probe.cpp)
target_compile_options(settings_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(settings_probe PRIVATE kalvimorf_shell)
add_executable(settings_x11_tests settings/settings_x11_test.cpp)
target_compile_options(settings_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(settings_x11_tests PRIVATE test_support)
target_compile_definitions(settings_x11_tests PRIVATE
  XTEST_DRIVER="$<TARGET_FILE:xtest_driver>" SETTINGS_PROBE="$<TARGET_FILE:settings_probe>")
add_dependencies(settings_x11_tests xtest_driver settings_probe brivlon)
add_test(NAME SettingsX11.OpensAndChecks
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:settings_x11_tests>)
set_tests_properties(SettingsX11.OpensAndChecks PROPERTIES TIMEOUT 120)
