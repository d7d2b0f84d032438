#include "core/engines/tool_engines.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/engines/engine_modules.h"
#include "core/engines/media_tools.h"
#include "core/engines/pdf_tools.h"

namespace ToolEngines {

namespace {

// The joins are media tools: they take every source, the others one.
const fs::path& single(const std::vector<fs::path>& sources)
{
    if (sources.size() != 1)
        throw ConversionError::unsupported();
    return sources.front();
}

const ToolEngineEntries entries{
    .image =
        [](Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress&) {
            return EngineModules::images().runTool(tool, single(sources), params);
        },
    .media = MediaTools::perform,
    .pdf =
        [](Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress&) {
            return PDFTools::run(tool, single(sources), params);
        },
    .pdfCompress =
        [](Tool, const std::vector<fs::path>& sources, const ToolParams&, const Progress&) {
            return EngineModules::images().compressPDF(single(sources));
        },
};

}

fs::path run(Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress& progress)
{
    if (sources.empty())
        throw ConversionError::unsupported();
    for (const auto& source : sources)
        FileSafety::requireRegularFile(source);
    return (entries.*Tools::engine(tool))(tool, sources, params, progress);
}

}
