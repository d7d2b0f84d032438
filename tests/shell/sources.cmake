brivlon_tests(shell_tests
  shell/hud_test.cpp
  shell/shell_test.cpp
)
target_link_libraries(shell_tests PRIVATE kalvimorf_shell)

# The scenarios show real windows: they run on the private X server of support/with-x.
add_executable(shell_x11_tests shell/scenarios_x11_test.cpp)
target_compile_options(shell_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(shell_x11_tests PRIVATE test_support)
add_dependencies(shell_x11_tests brivlon)
add_test(NAME Scenarios.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests>)
set_tests_properties(Scenarios.X11 PROPERTIES TIMEOUT 180 PROCESSORS 2)
