target_sources(kalvimorf_shell PRIVATE
  shell/app_delegate.cpp
  shell/app_lifecycle.cpp
  shell/app_model.cpp
  shell/drop_zone.cpp
  shell/format_grid.cpp
  shell/how_to.cpp
  shell/main_menu.cpp
  shell/main_view.cpp
  shell/main_window.cpp
  shell/mode_tabs.cpp
  shell/selection_view.cpp
  shell/view_look.cpp
)
