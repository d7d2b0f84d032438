# The file tools: their catalogue now, the engines and the trim editor later.
add_library(kalvimorf_tools STATIC)
target_include_directories(kalvimorf_tools PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(kalvimorf_tools PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(kalvimorf_tools PUBLIC kalvimorf_core)
target_sources(kalvimorf_tools PRIVATE
  tools/tool.cpp
  tools/tool_runner.cpp
)
