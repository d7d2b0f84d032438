target_sources(kalvimorf_settings PRIVATE
  settings/appearance_page.cpp
  settings/controls.cpp
  settings/desktop_uri.cpp
  settings/feedback.cpp
  settings/feedback_window.cpp
  settings/files_page.cpp
  settings/folder_chooser.cpp
  settings/general_page.cpp
  settings/keys_page.cpp
  settings/office_component.cpp
  settings/quality_page.cpp
  settings/settings_window.cpp
  settings/updates.cpp
)
