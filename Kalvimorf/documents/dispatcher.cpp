#include "documents/dispatcher.h"

#include "core/base/conversion_error.h"
#include "core/engines/image_engine.h"
#include "core/engines/media_engine.h"
#include "core/engines/pdf_engine.h"
#include "core/jobs/request.h"
#include "documents/archive_engine.h"
#include "documents/document_engine.h"
#include "documents/spreadsheet_engine.h"
#include "documents/subtitle_engine.h"

namespace Engine {

namespace {

fs::path documentRoute(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    return DocumentEngine::convert(source, format, progress);
}

}

fs::path convert(const fs::path& source, MediaKind kind, const OutputFormat& format, const Progress& progress)
{
    if (auto copy = Requests::asIs(source, kind, format))
        return *copy;

    switch (kind) {
    case MediaKind::image: return ImageEngine::convert(source, format);
    case MediaKind::video:
    case MediaKind::audio: return MediaEngine::convert(source, format, progress);
    case MediaKind::pdf:
        if (format.ext == "docx")
            return documentRoute(source, format, progress);
        return PDFEngine::convert(source, format, progress);
    case MediaKind::document: return documentRoute(source, format, progress);
    case MediaKind::subtitle: return SubtitleEngine::convert(source, format);
    case MediaKind::spreadsheet: return SpreadsheetEngine::convert(source, format);
    case MediaKind::archive:
        if (format.action == FormatAction::extract)
            return ArchiveEngine::extract(source);
        return ArchiveEngine::repack(source, format);
    case MediaKind::folder:
    case MediaKind::other: return ArchiveEngine::create({source}, format);
    }
    throw ConversionError::unsupported();
}

}
