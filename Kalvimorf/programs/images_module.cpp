#include "programs/module_entries.h"

#include "core/engines/image_library.h"
#include "core/engines/image_tools.h"
#include "core/engines/pdf_compress.h"

const EngineModules::Images* brivlon_images()
{
    static const EngineModules::Images table{
        ImageEngine::convert, ImageEngine::mergeToPDF, ImageTools::run, PDFCompress::run, ImageLibrary::start};
    return &table;
}
