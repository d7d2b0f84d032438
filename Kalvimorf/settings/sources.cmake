target_sources(kalvimorf_gui PRIVATE
  settings/folder_chooser.cpp
)
