target_sources(kalvimorf_settings PRIVATE
  settings/folder_chooser.cpp
)
