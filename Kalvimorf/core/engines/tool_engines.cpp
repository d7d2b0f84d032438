#include "core/engines/tool_engines.h"

#include "core/base/conversion_error.h"
#include "core/engines/image_tools.h"
#include "core/engines/media_tools.h"
#include "core/engines/pdf_compress.h"
#include "core/engines/pdf_tools.h"

namespace ToolEngines {

fs::path run(Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress& progress)
{
    if (sources.empty())
        throw ConversionError::unsupported();
    // The joins are media tools: they take every source, the others one.
    const auto kind = Tools::kind(tool);
    if (kind == MediaKind::video || kind == MediaKind::audio)
        return MediaTools::perform(tool, sources, params, progress);
    if (sources.size() != 1)
        throw ConversionError::unsupported();
    const auto& source = sources.front();
    switch (kind) {
    case MediaKind::image: return ImageTools::run(tool, source, params);
    case MediaKind::video:
    case MediaKind::audio: break;
    case MediaKind::pdf:
        return tool == Tool::pdfCompress ? PDFCompress::run(source) : PDFTools::run(tool, source, params);
    case MediaKind::document:
    case MediaKind::subtitle:
    case MediaKind::spreadsheet:
    case MediaKind::archive:
    case MediaKind::folder:
    case MediaKind::other: break;
    }
    throw ConversionError::unsupported();
}

}
