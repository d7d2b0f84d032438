# Tests of this folder are listed here.
brivlon_tests(documents_tests
  documents/archive_engine_test.cpp
  documents/zip_tools_test.cpp
)
