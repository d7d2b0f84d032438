#pragma once

#include "core/base/progress.h"
#include "core/engines/tool_params.h"

#include <filesystem>
#include <string>
#include <vector>

// The one entry of the tool engines, for the runner, the command line and the workers alike.
namespace ToolEngines {
namespace fs = std::filesystem;

// Runs `tool`: a join on all `sources`, any other tool on the single source it is given. Returns
// the written file (the new folder for a split). Outputs are claimed by exclusive creation and
// published without replacing anything, so the same name chosen by two jobs or two processes
// gives "… 2"; a failed or cancelled run leaves no output. Throws ConversionError, ToolError or
// CancellationError.
fs::path run(Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress& progress);
}
