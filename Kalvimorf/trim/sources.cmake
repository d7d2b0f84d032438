target_sources(kalvimorf_trim PRIVATE
  trim/clip_editor.cpp
  trim/clip_list.cpp
  trim/preview_player.cpp
  trim/segments_bar.cpp
  trim/timeline_bar.cpp
  trim/trim_clip.cpp
  trim/trim_editor.cpp
  trim/trim_editor_view.cpp
  trim/trim_look.cpp
  trim/trim_motion.cpp
  trim/trim_session.cpp
)
