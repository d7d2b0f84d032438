brivlon_tests(shell_tests
  shell/hud_test.cpp
  shell/shell_test.cpp
  shell/cancel_all_test.cpp
)
target_link_libraries(shell_tests PRIVATE kalvimorf_shell)

# The scenarios show real windows: they run on the private X server of support/with-x.
# The whole road uses the drag source and the XTEST driver of the menu tests.
add_executable(shell_x11_tests shell/scenarios_x11_test.cpp shell/road_x11_test.cpp shell/tray_icon_x11_test.cpp)
target_compile_options(shell_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(shell_x11_tests PRIVATE test_support Qt6::DBus)
target_compile_definitions(shell_x11_tests PRIVATE
  DRAG_SOURCE="$<TARGET_FILE:drag_source>" XTEST_DRIVER="$<TARGET_FILE:xtest_driver>")
add_dependencies(shell_x11_tests brivlon drag_source xtest_driver)
add_test(NAME Scenarios.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=Scenarios.*)
set_tests_properties(Scenarios.X11 PROPERTIES TIMEOUT 180 PROCESSORS 2)
add_test(NAME WholeRoad.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=WholeRoad.*)
set_tests_properties(WholeRoad.X11 PROPERTIES TIMEOUT 120 PROCESSORS 2)
add_test(NAME TrayIcon.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=TrayIcon.*)
set_tests_properties(TrayIcon.X11 PROPERTIES TIMEOUT 120)

add_executable(tray_menu_x11_tests shell/tray_menu_x11_test.cpp)
target_compile_options(tray_menu_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(tray_menu_x11_tests PRIVATE kalvimorf_shell GTest::gtest)
target_compile_definitions(tray_menu_x11_tests PRIVATE DRAG_SOURCE="$<TARGET_FILE:drag_source>")
add_dependencies(tray_menu_x11_tests drag_source)
add_test(NAME TrayProgram.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:tray_menu_x11_tests>)
set_tests_properties(TrayProgram.X11 PROPERTIES TIMEOUT 120)
