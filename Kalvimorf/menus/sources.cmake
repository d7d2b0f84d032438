target_sources(kalvimorf_menus PRIVATE
  menus/action_chooser.cpp
  menus/brivlon_mark.cpp
  menus/burst_panel.cpp
  menus/desktop_theme.cpp
  menus/drag_monitor.cpp
  menus/drawing_kit.cpp
  menus/file_action.cpp
  menus/haptics.cpp
  menus/magic_fireworks.cpp
  menus/menu_style.cpp
  menus/palette.cpp
  menus/sparkle.cpp
  menus/status_icon.cpp
  menus/wheel_controller.cpp
  menus/wheel_panel.cpp
  menus/wheel_view.cpp
)
