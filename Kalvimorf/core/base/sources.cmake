target_sources(kalvimorf_core_base PRIVATE
  core/base/app_paths.cpp
  core/base/appearance.cpp
  core/base/catalog.cpp
  core/base/commands.cpp
  core/base/conversion_error.cpp
  core/base/error_causes.cpp
  core/base/error_log.cpp
  core/base/file_safety.cpp
  core/base/helper_module.cpp
  core/base/image_readers.cpp
  core/base/output_formats.cpp
  core/base/output_paths.cpp
  core/base/process.cpp
  core/base/quality.cpp
  core/base/settings.cpp
  core/base/task.cpp
)
