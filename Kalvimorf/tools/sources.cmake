target_sources(kalvimorf_tools PRIVATE
  tools/tool.cpp
  tools/tool_panel.cpp
  tools/tool_runner.cpp
)
