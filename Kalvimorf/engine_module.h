#pragma once

#include "core/engines/image_engine.h"
#include "core/engines/image_library.h"
#include "core/engines/pdf_engine.h"
#include "core/engines/tool_engines.h"
#include "documents/document_engine.h"

// The engines that stand on libvips, poppler, OpenCV, Qt Gui and the office route, as the
// worker's engine module (brivlon-engines.so) hands them over. The worker program reaches them
// only through this table, so that a job that needs none of them (a PDF merge, an archive, a
// video) never loads those libraries.
struct EngineEntries {
    decltype(&ImageEngine::convert) convertImage;
    decltype(&ImageEngine::mergeToPDF) mergeImages;
    decltype(&PDFEngine::convert) convertPDF;
    decltype(&DocumentEngine::convert) convertDocument;
    decltype(&ToolEngines::run) runTool;
    decltype(&ImageLibrary::start) startImageLibrary;
};

// The module's one exported function.
inline constexpr const char* engineEntriesName = "brivlon_engines";
