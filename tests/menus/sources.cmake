brivlon_tests(menus_tests
  menus/drag_monitor_test.cpp
)
target_link_libraries(menus_tests PRIVATE kalvimorf_gui)
