target_sources(kalvimorf_core_engines PRIVATE
  core/engines/ffmpeg.cpp
  core/engines/image_engine.cpp
  core/engines/image_flate.cpp
  core/engines/image_library.cpp
  core/engines/image_pdf.cpp
  core/engines/media_engine.cpp
  core/engines/pdf_engine.cpp
  core/engines/trim_media.cpp
)
