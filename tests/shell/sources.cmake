brivlon_tests(shell_tests
  shell/main_window_test.cpp
  shell/main_view_render_test.cpp
  shell/main_drawing_test.cpp
  shell/quit_test.cpp
)
target_link_libraries(shell_tests PRIVATE kalvimorf_shell)

# The main window as a drop target and a tile under the pointer, on a real X server with the drag
# source and XTEST driver of the menus' tests.
add_executable(main_window_probe shell/main_window_probe.cpp)
target_compile_options(main_window_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(main_window_probe PRIVATE kalvimorf_shell)
add_executable(main_window_x11_tests shell/main_window_x11_test.cpp)
target_compile_options(main_window_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(main_window_x11_tests PRIVATE test_support)
target_compile_definitions(main_window_x11_tests PRIVATE
  DRAG_SOURCE="$<TARGET_FILE:drag_source>" XTEST_DRIVER="$<TARGET_FILE:xtest_driver>"
  MAIN_WINDOW_PROBE="$<TARGET_FILE:main_window_probe>")
add_dependencies(main_window_x11_tests drag_source xtest_driver main_window_probe test_resources)
add_test(NAME MainWindowX11.DropAndConvert
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:main_window_x11_tests>)
set_tests_properties(MainWindowX11.DropAndConvert PROPERTIES TIMEOUT 120)

# The quit path under load: a probe that runs real conversions in real workers and a move across
# file systems, and quits while they run.
add_executable(quit_probe shell/quit_probe.cpp)
target_compile_options(quit_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(quit_probe PRIVATE kalvimorf_shell)
add_dependencies(quit_probe test_resources)
target_compile_definitions(shell_tests PRIVATE QUIT_PROBE="$<TARGET_FILE:quit_probe>")
add_dependencies(shell_tests quit_probe)
