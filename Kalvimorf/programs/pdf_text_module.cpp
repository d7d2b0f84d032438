#include "programs/module_entries.h"

#include "core/engines/pdf_text.h"

const EngineModules::PDFText* brivlon_pdf_text()
{
    static const EngineModules::PDFText table{PDFText::convert};
    return &table;
}
