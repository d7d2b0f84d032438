# Theme lookup is plain settings work that the core's settings model needs.
target_sources(kalvimorf_core PRIVATE
  menus/theme.cpp
)
target_sources(kalvimorf_gui PRIVATE
  menus/appearance.cpp
  menus/brivlon_mark.cpp
  menus/burst_panel.cpp
  menus/card_fan.cpp
  menus/card_fan_drawing.cpp
  menus/card_fan_layout.cpp
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
)
