#pragma once

#include <optional>
#include <string_view>
#include <vector>

// The kinds of engine module (see engine_modules.h), for those that only name them: the requests
// and the pool that starts workers.
namespace EngineModules {

enum class Module {
    images,     // libvips: pictures, their tools, images into a PDF, PDF compression
    documents,  // poppler, Qt Gui, LibRaw, the office route: PDF pages, documents, Qt's and raw readers
    faces,      // OpenCV: face blurring
    pdfText,    // poppler alone: a PDF's text
};

// A module's spelling (its file is brivlon-<spelling>.so), and the module of a spelling.
std::string_view raw(Module module);
std::optional<Module> parse(std::string_view raw);
// Every module, for a worker that keeps them all ready (the desktop's).
std::vector<Module> all();

}
