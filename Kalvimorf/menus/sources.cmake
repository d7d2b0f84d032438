# Theme lookup is plain settings work that the core's settings model needs.
target_sources(kalvimorf_core PRIVATE
  menus/theme.cpp
)
target_sources(kalvimorf_gui PRIVATE
  menus/drag_monitor.cpp
)
