target_sources(kalvimorf_documents PRIVATE
  documents/archive_engine.cpp
  documents/delimited.cpp
  documents/spreadsheet_engine.cpp
  documents/subtitle_engine.cpp
  documents/text_file.cpp
  documents/xlsx.cpp
  documents/xml_tree.cpp
  documents/zip_tools.cpp
)
