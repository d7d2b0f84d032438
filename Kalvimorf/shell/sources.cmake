target_sources(kalvimorf_shell PRIVATE
  shell/app_delegate.cpp
  shell/desktop_entry.cpp
  shell/dock_presence.cpp
  shell/hud_controller.cpp
  shell/hud_panel.cpp
  shell/hud_view.cpp
  shell/main_window.cpp
  shell/single_instance.cpp
  shell/sparkle_burst.cpp
  shell/status_menu.cpp
)
