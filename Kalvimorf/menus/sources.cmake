target_sources(kalvimorf_menus PRIVATE
  menus/drag_monitor.cpp
)
