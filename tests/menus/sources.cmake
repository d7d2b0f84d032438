brivlon_tests(menus_tests
  menus/drag_monitor_test.cpp
  menus/card_entries_test.cpp
  menus/card_fan_test.cpp
  menus/drawing_test.cpp
  menus/drop_area_test.cpp
  menus/file_action_test.cpp
  menus/menu_model_test.cpp
  menus/theme_preview_test.cpp
  menus/desktop_theme_test.cpp
  menus/wheel_test.cpp
  menus/wheel_controller_test.cpp
)
target_link_libraries(menus_tests PRIVATE kalvimorf_menus)

# The monitor and the card fan's drops under a real X server: a drag source, an XTEST driver, a
# selection owner that hands over a long list in chunks, a probe that runs the monitor and one that
# shows a fan, orchestrated by a test that only runs through support/with-x.
add_executable(drag_source menus/drag_source.cpp)
target_compile_options(drag_source PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(drag_source PRIVATE Qt6::Widgets PkgConfig::XCB)
add_executable(xtest_driver menus/xtest_driver.cpp)
target_compile_options(xtest_driver PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(xtest_driver PRIVATE PkgConfig::XCB)
add_executable(selection_owner menus/selection_owner.cpp)
target_compile_options(selection_owner PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(selection_owner PRIVATE PkgConfig::XCB)
add_executable(drag_probe menus/drag_probe.cpp)
target_compile_options(drag_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(drag_probe PRIVATE kalvimorf_menus)
add_executable(fan_drop_probe menus/fan_drop_probe.cpp)
target_compile_options(fan_drop_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(fan_drop_probe PRIVATE kalvimorf_menus)
# The tools cards of a picture, their drops running the real tool runner.
add_executable(tool_drop_probe menus/tool_drop_probe.cpp)
target_compile_options(tool_drop_probe PRIVATE ${BRIVLON_WARNINGS})
# It shows the progress panel too, as the tray program does.
target_link_libraries(tool_drop_probe PRIVATE kalvimorf_shell)
add_executable(drag_x11_tests menus/drag_x11_test.cpp)
target_compile_options(drag_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(drag_x11_tests PRIVATE test_support)
target_compile_definitions(drag_x11_tests PRIVATE
  DRAG_SOURCE="$<TARGET_FILE:drag_source>" DRAG_PROBE="$<TARGET_FILE:drag_probe>"
  XTEST_DRIVER="$<TARGET_FILE:xtest_driver>" SELECTION_OWNER="$<TARGET_FILE:selection_owner>"
  FAN_DROP_PROBE="$<TARGET_FILE:fan_drop_probe>" TOOL_DROP_PROBE="$<TARGET_FILE:tool_drop_probe>")
add_dependencies(drag_x11_tests drag_source xtest_driver drag_probe selection_owner fan_drop_probe tool_drop_probe)
add_test(NAME DragMonitorX11.RealDrags
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:drag_x11_tests> --gtest_filter=DragMonitorX11.*)
set_tests_properties(DragMonitorX11.RealDrags PROPERTIES TIMEOUT 300 PROCESSORS 2)
add_test(NAME CardFanX11.RealDrops
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:drag_x11_tests> --gtest_filter=CardFanX11.*)
set_tests_properties(CardFanX11.RealDrops PROPERTIES TIMEOUT 120)

add_executable(burst_panel_x11_tests menus/burst_panel_x11_test.cpp)
target_compile_options(burst_panel_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(burst_panel_x11_tests PRIVATE kalvimorf_menus GTest::gtest)
target_include_directories(burst_panel_x11_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
add_test(NAME BurstPanelX11.ShowsAtThePickAndGoesAway
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:burst_panel_x11_tests>)
set_tests_properties(BurstPanelX11.ShowsAtThePickAndGoesAway PROPERTIES TIMEOUT 120)

# The menu's translucent window on the X server of support/with-x, which runs no compositing
# manager of its own: a probe shows the fan or the wheel, the test reads the screen.
add_executable(menu_shape_probe menus/menu_shape_probe.cpp)
target_compile_options(menu_shape_probe PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(menu_shape_probe PRIVATE kalvimorf_menus)
add_executable(shape_x11_tests menus/shape_x11_test.cpp)
target_compile_options(shape_x11_tests PRIVATE ${BRIVLON_WARNINGS})
target_link_libraries(shape_x11_tests PRIVATE test_support PkgConfig::XCB)
target_compile_definitions(shape_x11_tests PRIVATE MENU_SHAPE_PROBE="$<TARGET_FILE:menu_shape_probe>")
add_dependencies(shape_x11_tests menu_shape_probe)
add_test(NAME MenuShapeX11.NoCompositor
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shape_x11_tests> --gtest_filter=*/NoCompositor.*)
set_tests_properties(MenuShapeX11.NoCompositor PROPERTIES TIMEOUT 120)
# The same under a compositing manager that draws shadows, which the test starts (xcompmgr -c).
add_test(NAME MenuShapeX11.ShadowingCompositor
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-x $<TARGET_FILE:shape_x11_tests> --gtest_filter=*/ShadowingCompositor.*)
set_tests_properties(MenuShapeX11.ShadowingCompositor PROPERTIES TIMEOUT 120)
