#include "programs/engine_module.h"

#include "core/base/output_formats.h"

// The lighter worker programs' stand-ins for the engines they leave to the engine module: each
// opens the module on first use (engine_modules.cpp) and calls the engine there. This file holds
// what both programs leave out; light_forwarders.cpp and image_forwarders.cpp what only one does.

fs::path PDFEngine::convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    if (OutputFormats::writer(MediaKind::pdf, format) == Writer::pdfText)
        return textModule().convertPDFText(source);
    return engineModule().convertPDF(source, format, progress);
}

fs::path DocumentEngine::convert(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    return engineModule().convertDocument(source, format, progress);
}
