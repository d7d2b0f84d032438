target_sources(kalvimorf_core PRIVATE
  documents/archive_engine.cpp
  documents/spreadsheet_engine.cpp
  documents/subtitle_engine.cpp
  documents/zip_tools.cpp
)
