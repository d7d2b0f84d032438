target_sources(kalvimorf_core PRIVATE
  platform/login_item.cpp
)
target_sources(kalvimorf_gui PRIVATE
  platform/message_alert.cpp
  platform/sound_player.cpp
)
