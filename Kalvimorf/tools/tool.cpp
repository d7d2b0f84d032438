#include "tools/tool.h"

#include "core/base/file_safety.h"
#include "core/base/output_paths.h"

namespace Tools {

std::vector<Tool> available(const std::vector<std::filesystem::path>& urls)
{
    const auto offer = Catalog::options(urls);
    if (!offer)
        return {};
    std::vector<Tool> result;
    for (auto tool : all())
        if (kind(tool) == offer->kind && (!isBatch(tool) || urls.size() >= 2))
            result.push_back(tool);
    return result;
}

}

namespace ToolEngine {

FileSafety::NameFor output(const std::filesystem::path& source, Tool tool, const std::optional<std::string>& ext)
{
    const auto base = source.stem().string() + " (" + Tools::suffix(tool) + ")";
    return FileSafety::numberedNames(OutputPaths::directory(source), base, ext ? *ext : Catalog::normalizedExt(source));
}

}
