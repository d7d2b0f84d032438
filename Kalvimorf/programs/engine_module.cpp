#include "programs/engine_module.h"

extern "C" const EngineEntries* brivlon_engines()
{
    static const EngineEntries entries{ImageEngine::convert, ImageEngine::mergeToPDF, ImageTools::run, PDFCompress::run,
        ImageLibrary::start, QtImages::load, RawImages::load, PDFEngine::convert, DocumentEngine::convert};
    return &entries;
}
