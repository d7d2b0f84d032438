#include "documents/dispatcher.h"

#include "core/base/conversion_error.h"
#include "core/base/output_formats.h"
#include "core/engines/engine_modules.h"
#include "core/engines/media_engine.h"
#include "core/engines/pdf_engine.h"
#include "core/jobs/request.h"
#include "documents/archive_engine.h"
#include "documents/spreadsheet_engine.h"
#include "documents/subtitle_engine.h"

namespace Engine {

fs::path convert(const fs::path& source, MediaKind kind, const OutputFormat& format, const Progress& progress)
{
    if (auto copy = Requests::asIs(source, kind, format))
        return *copy;

    const auto writer = OutputFormats::writer(kind, format);
    if (!writer)
        throw ConversionError::unsupported();
    switch (*writer) {
    case Writer::image: return EngineModules::images().convert(source, format);
    case Writer::imagesToPDF: return EngineModules::images().mergeToPDF({source});
    case Writer::media: return MediaEngine::convert(source, format, progress);
    case Writer::pdfPages: return EngineModules::documents().convertPDF(source, format, progress);
    case Writer::pdfText: return EngineModules::pdfText().convert(source);
    case Writer::pdfMerge: return PDFEngine::merge({source});
    case Writer::document: return EngineModules::documents().convertDocument(source, format, progress);
    case Writer::subtitle: return SubtitleEngine::convert(source, format);
    case Writer::spreadsheet: return SpreadsheetEngine::convert(source, format);
    case Writer::repack: return ArchiveEngine::repack(source, format);
    case Writer::extract: return ArchiveEngine::extract(source);
    case Writer::pack: return ArchiveEngine::create({source}, format);
    }
    throw ConversionError::unsupported();
}

}
