target_sources(kalvimorf_shell PRIVATE
  shell/app_delegate.cpp
  shell/app_lifecycle.cpp
)
