target_sources(kalvimorf_core PRIVATE
  core/app_paths.cpp
  core/catalog.cpp
  core/conversion_error.cpp
  core/engine.cpp
  core/error_log.cpp
  core/ffmpeg.cpp
  core/image_engine.cpp
  core/image_pdf.cpp
  core/media_engine.cpp
  core/output_paths.cpp
  core/pdf_engine.cpp
  core/process.cpp
  core/quality.cpp
  core/settings.cpp
  core/shell.cpp
  core/task.cpp
)
