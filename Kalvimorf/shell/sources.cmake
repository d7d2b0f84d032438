target_sources(kalvimorf_shell PRIVATE
  shell/app_delegate.cpp
  shell/hud_controller.cpp
  shell/hud_panel.cpp
  shell/hud_view.cpp
  shell/sparkle_burst.cpp
)
