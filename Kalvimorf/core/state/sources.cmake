target_sources(kalvimorf_core_state PRIVATE
  core/state/alert.cpp
  core/state/chime.cpp
  core/state/export_chime.cpp
  core/state/magic_burst.cpp
  core/state/media_clock.cpp
  core/state/settings_model.cpp
  core/state/spring_curve.cpp
)
