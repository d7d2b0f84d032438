target_sources(kalvimorf_gui PRIVATE
  shell/app_delegate.cpp
)
