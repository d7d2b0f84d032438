# The quit path under load: a probe that runs real conversions in real workers and a move across
# file systems, and quits while they run.
add_executable(quit_probe shell/quit_probe.cpp)
target_compile_options(quit_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(quit_probe PRIVATE kalvimorf_shell)
add_dependencies(quit_probe test_resources)
brivlon_tests(shell_tests shell/quit_test.cpp)
target_compile_definitions(shell_tests PRIVATE QUIT_PROBE="$<TARGET_FILE:quit_probe>")
add_dependencies(shell_tests quit_probe)
