#include "engine_module.h"

extern "C" const EngineEntries* brivlon_engines()
{
    static const EngineEntries entries{ImageEngine::convert, ImageEngine::mergeToPDF, PDFEngine::convert,
        DocumentEngine::convert, ToolEngines::run, ImageLibrary::start};
    return &entries;
}
