#pragma once

#include "core/engines/face_blur.h"
#include "core/engines/image_engine.h"
#include "core/engines/image_library.h"
#include "core/engines/image_tools.h"
#include "core/engines/pdf_compress.h"
#include "core/engines/pdf_engine.h"
#include "core/engines/pdf_text.h"
#include "core/engines/qt_images.h"
#include "core/engines/raw_images.h"
#include "documents/document_engine.h"

// The engines that the lighter worker programs leave to the engine module (brivlon-engines.so),
// as it hands them over. A worker program reaches them only through this table, so that a job
// that needs none of them never loads their libraries: the light program leaves out everything
// on libvips, poppler, OpenCV, Qt Gui, LibRaw and the office route; the image program keeps
// libvips and leaves out the rest.
struct EngineEntries {
    // Out of the light program only.
    decltype(&ImageEngine::convert) convertImage;
    decltype(&ImageEngine::mergeToPDF) mergeImages;
    decltype(&ImageTools::run) runImageTool;
    decltype(&PDFCompress::run) compressPDF;
    decltype(&ImageLibrary::start) startImageLibrary;
    // Out of the image program only.
    decltype(&QtImages::load) loadWithQt;
    decltype(&RawImages::load) loadRaw;
    // Out of both.
    decltype(&PDFEngine::convert) convertPDF;
    decltype(&DocumentEngine::convert) convertDocument;
};

// The module's one exported function.
inline constexpr const char* engineEntriesName = "brivlon_engines";

// PDF text, which needs poppler alone, from a module of its own (brivlon-pdf-text.so), so that
// the lighter programs extract it without opening the engine module.
struct TextEntries {
    decltype(&PDFText::convert) convertPDFText;
};
inline constexpr const char* textEntriesName = "brivlon_pdf_text";

// Face blurring, which needs OpenCV's core alone besides libvips, from a module of its own
// (brivlon-faces.so), so that the image program blurs faces without the engine module's poppler,
// Qt Gui and office route.
struct FaceEntries {
    decltype(&FaceBlur::blurFaces) blurFaces;
    decltype(&FaceBlur::detect) detectFaces;
};
inline constexpr const char* faceEntriesName = "brivlon_faces";

// The module's table, the module opened on its first use (engine_forwarders.cpp, in the lighter
// worker programs only).
const EngineEntries& engineModule();
const TextEntries& textModule();
const FaceEntries& facesModule();
