#include "programs/module_entries.h"

#include "core/engines/pdf_engine.h"
#include "core/engines/qt_images.h"
#include "core/engines/raw_images.h"
#include "documents/document_engine.h"

const EngineModules::Documents* brivlon_documents()
{
    static const EngineModules::Documents table{PDFEngine::convert, DocumentEngine::convert, QtImages::load, RawImages::load};
    return &table;
}
