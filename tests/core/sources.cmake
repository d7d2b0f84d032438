brivlon_tests(core_tests
  core/catalog_test.cpp
  core/output_formats_test.cpp
  core/output_paths_test.cpp
  core/file_safety_test.cpp
  core/process_test.cpp
  core/process_limits_test.cpp
  core/settings_test.cpp
  core/error_log_test.cpp
  core/entry_point_test.cpp
  core/job_store_test.cpp
  core/office_notices_test.cpp
  core/conversion_runner_test.cpp
  core/request_test.cpp
  core/job_process_test.cpp
  core/conversion_error_test.cpp
  core/chime_test.cpp
  core/export_chime_test.cpp
  core/private_home_test.cpp
  core/job_budget_test.cpp
  core/conversion_end_to_end_test.cpp
  core/pdf_engine_test.cpp
  core/qpdf_input_test.cpp
  core/media_engine_test.cpp
  core/trim_media_test.cpp
  core/image_engine_test.cpp
)
brivlon_tests(cli_tests
  core/headless_conversion_test.cpp
  core/hardening_test.cpp
  core/input_roads_test.cpp
  core/hostile_media_test.cpp
  core/headless_tool_test.cpp
  core/picture_kinds_test.cpp
  core/picture_inputs_test.cpp
  core/picture_decoders_test.cpp
)
brivlon_tests(tool_engine_tests
  core/tool_engines_test.cpp
  core/haar_scan_test.cpp
  core/jpeg_stripes_test.cpp
)
target_compile_definitions(tool_engine_tests PRIVATE BRIVLON_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
# The programs table that RequestTest reads.
target_compile_definitions(core_tests PRIVATE BRIVLON_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_compile_definitions(cli_tests PRIVATE BRIVLON_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
# Each program's file name and sources as the build makes it, for the test that reads the programs
# table of CONTRIBUTING.md.
set(programs brivlon brivlon_desktop brivlon_worker brivlon_images brivlon_documents
  brivlon_pdf_text brivlon_faces brivlon_sound brivlon_preview brivlon_icon_render)
set(program_lines "")
foreach(program IN LISTS programs)
  string(APPEND program_lines "$<TARGET_FILE_NAME:${program}> $<JOIN:$<TARGET_PROPERTY:${program},SOURCES>, >\n")
endforeach()
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/programs.txt CONTENT "${program_lines}")
target_compile_definitions(core_tests PRIVATE BRIVLON_PROGRAMS_LIST="${CMAKE_CURRENT_BINARY_DIR}/programs.txt")
