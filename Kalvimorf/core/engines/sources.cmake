target_sources(kalvimorf_core_engines PRIVATE
  core/engines/drawing_pictures.cpp
  core/engines/engine_modules.cpp
  core/engines/face_blur.cpp
  core/engines/haar_scan.cpp
  core/engines/ffmpeg.cpp
  core/engines/gui_application.cpp
  core/engines/image_engine.cpp
  core/engines/image_flate.cpp
  core/engines/image_library.cpp
  core/engines/image_pdf.cpp
  core/engines/image_tools.cpp
  core/engines/jpeg_stripes.cpp
  core/engines/jpeg2000.cpp
  core/engines/mapped_file.cpp
  core/engines/media_engine.cpp
  core/engines/media_tools.cpp
  core/engines/pdf_compress.cpp
  core/engines/pdf_engine.cpp
  core/engines/pdf_merge.cpp
  core/engines/pdf_pieces.cpp
  core/engines/pdf_text.cpp
  core/engines/poppler_core.cpp
  core/engines/pdf_tools.cpp
  core/engines/picture_headers.cpp
  core/engines/qpdf_input.cpp
  core/engines/qt_images.cpp
  core/engines/targa.cpp
  core/engines/bit_fields.cpp
  core/engines/raw_images.cpp
  core/engines/second_readers.cpp
  core/engines/tiff_metadata.cpp
  core/engines/tool_engines.cpp
  core/engines/time_text.cpp
  core/engines/tool_params.cpp
  core/engines/trim_media.cpp
  core/engines/webp_container.cpp
  core/engines/webp_still.cpp
  core/engines/trim_media_frame.cpp
)
# The cascade scan must round exactly as OpenCV's own does: no fused multiply-adds.
set_source_files_properties(core/engines/haar_scan.cpp PROPERTIES COMPILE_OPTIONS "-ffp-contract=off;-Wno-psabi")
# The face tool decodes its reduced copy of a JPEG with libjpeg itself, in stretches side by side.
find_package(JPEG REQUIRED)
target_link_libraries(kalvimorf_core_engines PRIVATE JPEG::JPEG)
# Camera raw files are developed by LibRaw's reentrant build. Its header needs no flags of its
# own, and only the programs that call it link it.
target_link_libraries(kalvimorf_core_engines PRIVATE ${LIBRAW_LINK_LIBRARIES})
# JPEG 2000 pictures are decoded whole by OpenJPEG itself (see Jpeg2000).
target_link_libraries(kalvimorf_core_engines PRIVATE PkgConfig::OPENJPEG)
# The TIFFs the image library's reader leaves out are read by libtiff's own RGBA reader.
target_link_libraries(kalvimorf_core_engines PRIVATE PkgConfig::TIFF)
