brivlon_tests(tools_tests
  tools/tool_test.cpp
  tools/tool_runner_test.cpp
)
target_link_libraries(tools_tests PRIVATE kalvimorf_tools)
