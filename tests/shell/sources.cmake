brivlon_tests(shell_tests
  shell/hud_test.cpp
  shell/shell_test.cpp
)
target_link_libraries(shell_tests PRIVATE kalvimorf_shell)
