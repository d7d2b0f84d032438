brivlon_tests(shell_tests
  shell/main_window_test.cpp
  shell/main_view_render_test.cpp
  shell/main_drawing_test.cpp
  shell/quit_test.cpp
  shell/hud_test.cpp
  shell/shell_test.cpp
  shell/cancel_all_test.cpp
  shell/contrast_test.cpp
)
target_link_libraries(shell_tests PRIVATE kalvimorf_shell)

# The main window as a drop target and a tile under the pointer, on a real X server with the drag
# source and XTEST driver of the menus' tests.
add_executable(main_window_probe shell/main_window_probe.cpp)
target_compile_options(main_window_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(main_window_probe PRIVATE kalvimorf_shell kalvimorf_module_entries)
add_executable(main_window_x11_tests shell/main_window_x11_test.cpp)
target_compile_options(main_window_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(main_window_x11_tests PRIVATE test_support)
target_compile_definitions(main_window_x11_tests PRIVATE
  DRAG_SOURCE="$<TARGET_FILE:drag_source>" XTEST_DRIVER="$<TARGET_FILE:xtest_driver>"
  MAIN_WINDOW_PROBE="$<TARGET_FILE:main_window_probe>" GTK_DRAG_SOURCE="${CMAKE_CURRENT_SOURCE_DIR}/menus/gtk_drag_source.py")
add_dependencies(main_window_x11_tests drag_source xtest_driver main_window_probe brivlon)
add_test(NAME MainWindowX11.DropAndConvert
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:main_window_x11_tests>
    --gtest_filter=MainWindowX11.ADragged*)
set_tests_properties(MainWindowX11.DropAndConvert PROPERTIES TIMEOUT 120)
add_test(NAME MainWindowX11.Keyboard
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:main_window_x11_tests>
    --gtest_filter=MainWindowX11.TabMoves*:MainWindowX11.TabLeaves*)
set_tests_properties(MainWindowX11.Keyboard PROPERTIES TIMEOUT 120)

# The quit path under load: a probe that runs real conversions in real workers and a move across
# file systems, and quits while they run.
add_executable(quit_probe shell/quit_probe.cpp)
target_compile_options(quit_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(quit_probe PRIVATE kalvimorf_shell kalvimorf_module_entries)
add_dependencies(quit_probe brivlon)
target_compile_definitions(shell_tests PRIVATE QUIT_PROBE="$<TARGET_FILE:quit_probe>")
add_dependencies(shell_tests quit_probe)

# The scenarios show real windows: they run on the private X server of support/with-x.
# The whole road uses the drag source and the XTEST driver of the menu tests.
# The tray icon's tests play the desktop's tray: a StatusNotifier watcher on the bus, or an XEmbed
# tray of their own.
add_executable(xembed_tray shell/xembed_tray.cpp)
target_compile_options(xembed_tray PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(xembed_tray PRIVATE PkgConfig::XCB)
add_executable(shell_x11_tests shell/scenarios_x11_test.cpp shell/road_x11_test.cpp shell/tray_icon_x11_test.cpp)
target_compile_options(shell_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(shell_x11_tests PRIVATE test_support Qt6::DBus)
target_compile_definitions(shell_x11_tests PRIVATE
  DRAG_SOURCE="$<TARGET_FILE:drag_source>" XTEST_DRIVER="$<TARGET_FILE:xtest_driver>"
  GTK_DRAG_SOURCE="${CMAKE_CURRENT_SOURCE_DIR}/menus/gtk_drag_source.py" XEMBED_TRAY="$<TARGET_FILE:xembed_tray>")
add_dependencies(shell_x11_tests brivlon drag_source xtest_driver xembed_tray)
add_test(NAME Scenarios.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=Scenarios.*)
set_tests_properties(Scenarios.X11 PROPERTIES TIMEOUT 180 PROCESSORS 2)
add_test(NAME WholeRoad.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=WholeRoad.DragHold*)
set_tests_properties(WholeRoad.X11 PROPERTIES TIMEOUT 120 PROCESSORS 2)
add_test(NAME WholeRoad.WheelX11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=WholeRoad.Wheel*)
set_tests_properties(WholeRoad.WheelX11 PROPERTIES TIMEOUT 120 PROCESSORS 2)
# The same drops from GTK's drag sources, Shift held.
add_test(NAME WholeRoad.GtkFanX11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=*GtkRoad.*Fan)
set_tests_properties(WholeRoad.GtkFanX11 PROPERTIES TIMEOUT 180 PROCESSORS 2)
add_test(NAME WholeRoad.GtkWheelX11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=*GtkRoad.*Wheel)
set_tests_properties(WholeRoad.GtkWheelX11 PROPERTIES TIMEOUT 180 PROCESSORS 2)
# A quick hand: a drop on a card reached while the menu opens, Escape with the key held, a release
# on the wheel's hub after a segment.
add_test(NAME QuickHand.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=*QuickHand.*:*WheelHand.*)
set_tests_properties(QuickHand.X11 PROPERTIES TIMEOUT 240 PROCESSORS 2)
# The same quick hand with a real file manager as the drag source, PCManFM and Thunar, with and
# without a compositing manager, and the slow hand on the wheel; bench/drops.sh tries every hand.
set(file_manager_hands Fan Wheel FanThunar WheelThunar FanComposited WheelThunarComposited WheelSlow)
list(TRANSFORM file_manager_hands PREPEND *FileManagerHand.*/)
list(JOIN file_manager_hands : file_manager_hands)
add_test(NAME FileManagerHand.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=${file_manager_hands})
set_tests_properties(FileManagerHand.X11 PROPERTIES TIMEOUT 240 PROCESSORS 2)
add_test(NAME TrayIcon.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shell_x11_tests> --gtest_filter=TrayIcon.*)
set_tests_properties(TrayIcon.X11 PROPERTIES TIMEOUT 120)

# The window places run first, so that the main window's first showing is theirs.
add_executable(tray_menu_x11_tests
  shell/window_places_x11_test.cpp shell/tray_menu_x11_test.cpp shell/x11_desktop.cpp)
target_compile_options(tray_menu_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(tray_menu_x11_tests PRIVATE kalvimorf_shell GTest::gtest)
target_include_directories(tray_menu_x11_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(tray_menu_x11_tests PRIVATE DRAG_SOURCE="$<TARGET_FILE:drag_source>")
add_dependencies(tray_menu_x11_tests drag_source)
add_test(NAME TrayProgram.X11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:tray_menu_x11_tests>)
set_tests_properties(TrayProgram.X11 PROPERTIES TIMEOUT 120)
