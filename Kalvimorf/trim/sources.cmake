target_sources(kalvimorf_trim PRIVATE
  trim/preview_player.cpp
  trim/qt_preview_player.cpp
  trim/time_text.cpp
  trim/trim_clip.cpp
  trim/trim_session.cpp
)
