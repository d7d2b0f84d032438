target_sources(kalvimorf_core PRIVATE
  platform/login_item.cpp
)
target_sources(kalvimorf_gui PRIVATE
  platform/desktop_apps.cpp
  platform/drag_input.cpp
  platform/message_alert.cpp
  platform/sound_player.cpp
  platform/x11_drag_input.cpp
)
