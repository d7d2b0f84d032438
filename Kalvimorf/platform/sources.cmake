target_sources(kalvimorf_platform PRIVATE
  platform/autostart_login_item.cpp
  platform/desktop_apps.cpp
  platform/desktop_entry.cpp
  platform/desktop_file_viewer.cpp
  platform/desktop_services.cpp
  platform/drop_offers.cpp
  platform/drag_input.cpp
  platform/message_alert.cpp
  platform/qt_translations.cpp
  platform/sound_player.cpp
  platform/window_shape.cpp
  platform/window_places.cpp
  platform/workspace_watch.cpp
  platform/x11_drag_input.cpp
  platform/x11_properties.cpp
)
