#pragma once

#include "core/base/output_formats.h"
#include "core/base/progress.h"
#include "core/engines/face_blur.h"
#include "core/engines/image_engine.h"
#include "core/engines/module_kind.h"
#include "core/engines/tool_params.h"

#include <filesystem>
#include <vector>

// The engines whose libraries only some jobs need live in modules of the helper folder, and the
// worker opens each by kind the first time a job needs it, the way libvips and Qt open their
// plugins: a PDF's text loads poppler alone, a picture libvips alone, and a zip or a PDF split
// none of them. Every call into those engines from outside them goes through these tables; the
// engines themselves are defined once, in their own rooms, and each module's entry hands over
// its table (programs/*_module.cpp).
namespace EngineModules {

using Convert = std::filesystem::path (*)(const std::filesystem::path&, const OutputFormat&, const Progress&);
using Load = ImageEngine::Picture (*)(const std::filesystem::path&);

struct Images {
    std::filesystem::path (*convert)(const std::filesystem::path&, const OutputFormat&);
    std::filesystem::path (*mergeToPDF)(const std::vector<std::filesystem::path>&);
    std::filesystem::path (*runTool)(Tool, const std::filesystem::path&, const ToolParams&);
    std::filesystem::path (*compressPDF)(const std::filesystem::path&);
    bool (*startLibrary)();
};
struct Documents {
    Convert convertPDF;
    Convert convertDocument;
    Load loadWithQt;
    Load loadRaw;
};
struct Faces {
    decltype(&FaceBlur::blurFaces) blurFaces;
    decltype(&FaceBlur::detect) detect;
};
struct PDFText {
    std::filesystem::path (*convert)(const std::filesystem::path&);
};

// Each module's table, the module opened on first use. A module that is missing or cannot load
// throws the sentence that asks for a new installation (its loader's reason goes to the error
// log).
const Images& images();
const Documents& documents();
const Faces& faces();
const PDFText& pdfText();

// Opens `module` now, and starts the image library when it is the images module, so that a
// worker waiting for its first job has it ready when the job comes.
void warm(Module module);

// For a program that links the engines itself (the tests and their probes): its own tables stand
// for the modules, which are then never opened.
struct Linked {
    const Images* images;
    const Documents* documents;
    const Faces* faces;
    const PDFText* pdfText;
};
void link(const Linked& tables);

}
