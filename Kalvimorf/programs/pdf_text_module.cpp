#include "programs/engine_module.h"

extern "C" const TextEntries* brivlon_pdf_text()
{
    static const TextEntries entries{PDFText::convert};
    return &entries;
}
