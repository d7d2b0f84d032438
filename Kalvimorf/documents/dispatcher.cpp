#include "documents/dispatcher.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/engines/image_engine.h"
#include "core/engines/media_engine.h"
#include "core/engines/pdf_engine.h"
#include "documents/archive_engine.h"
#include "documents/document_engine.h"
#include "documents/spreadsheet_engine.h"
#include "documents/subtitle_engine.h"

namespace Engine {

namespace {

// A file that already has the wanted type is copied as it is, under a free name.
fs::path copyAsIs(const fs::path& source, const OutputFormat& format)
{
    return FileSafety::copyNew(source, OutputPaths::names(source, format.ext == "tgz" ? "tar.gz" : format.ext));
}

fs::path documentRoute(const fs::path& source, const OutputFormat& format, const Progress& progress)
{
    return DocumentEngine::convert(source, format, progress);
}

}

fs::path convert(const fs::path& source, MediaKind kind, const OutputFormat& format, const Progress& progress)
{
    // Only folders and packed items may be anything else; a link to /dev/zero or a FIFO given
    // to a reader would be read for ever.
    if (kind != MediaKind::folder && kind != MediaKind::other && Catalog::normalizedExt(source) != "rtfd")
        FileSafety::requireRegularFile(source);
    if (format.action == FormatAction::convert && Catalog::normalizedExt(source) == format.ext)
        return copyAsIs(source, format);

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
