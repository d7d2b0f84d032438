# Tests of this folder are listed here.
brivlon_tests(documents_tests
  documents/archive_engine_test.cpp
  documents/component_installer_test.cpp
  documents/delimited_test.cpp
  documents/document_engine_test.cpp
  documents/docx_fonts_test.cpp
  documents/downloader_test.cpp
  documents/libreoffice_roundtrip_test.cpp
  documents/loopback_server.cpp
  documents/markdown_test.cpp
  documents/office_engine_test.cpp
  documents/subtitle_engine_test.cpp
  documents/text_formats_cli_test.cpp
  documents/xlsx_test.cpp
  documents/xml_tree_test.cpp
  documents/zip_tools_test.cpp
)
