#pragma once

#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "core/engines/tool_params.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Which tools a selection offers. The tools themselves are their rows in the catalogue
// (core/engines/tool_params.h).
namespace Tools {
// The tools a selection offers: those of its kind, the joins only for two or more files.
std::vector<Tool> available(const std::vector<std::filesystem::path>& urls);
}

namespace ToolEngine {
// The names of a tool's output: "<stem> (<suffix>).<ext>" in the source's output folder, then
// " 2", " 3", … before the extension; `ext` absent takes the source's normalised extension. The
// output takes the first that is free when it is published.
FileSafety::NameFor output(
    const std::filesystem::path& source, Tool tool, const std::optional<std::string>& ext = std::nullopt);
}
