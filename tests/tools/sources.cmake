set(BRIVLON_TEST_SUPPORT test_support_widgets)
brivlon_tests(tools_tests
  tools/tool_test.cpp
  tools/tool_runner_test.cpp
)
unset(BRIVLON_TEST_SUPPORT)
target_link_libraries(tools_tests PRIVATE kalvimorf_tools)
