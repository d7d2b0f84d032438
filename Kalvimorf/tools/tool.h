#pragma once

#include "core/base/catalog.h"
#include "core/base/file_safety.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The 18 file tools of the tools mode: names, kinds, output suffixes and which a selection
// offers. A tool's identity is its raw value; titles repeat across kinds.
enum class Tool {
    imgCompress,
    imgResize,
    imgCrop,
    imgRotate,
    imgStrip,
    imgBlurFaces,
    vidCompress,
    vidTrim,
    vidMute,
    vidRotate,
    vidJoin,
    audTrim,
    audNormalize,
    audJoin,
    pdfCompress,
    pdfSplit,
    pdfRotate,
    pdfExtract,
};

namespace Tools {
const std::vector<Tool>& all();
std::string rawValue(Tool tool);
// Exact and case-sensitive: "imgcompress" is no tool.
std::optional<Tool> fromRaw(const std::string& raw);
std::string title(Tool tool);
std::string suffix(Tool tool);
MediaKind kind(Tool tool);
// The whole selection is one input (the joins).
bool isBatch(Tool tool);
// Asks for its parameters in the options panel before it runs.
bool needsOptions(Tool tool);
// The tools a selection offers: those of its kind, the joins only for two or more files.
std::vector<Tool> available(const std::vector<std::filesystem::path>& urls);
}

// The parameters of one run, with the runner's defaults.
struct ToolParams {
    int quality = 70;
    int maxSide = 1920;
    int scalePercent = 50;
    bool useMaxSide = true;
    std::string aspect = "1:1";
    std::string start = "0:00";
    std::string end;
    int resolution = 720;
    std::string pages = "1";
};

// A tool's own failure; what() is the sentence shown to the user.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace ToolEngine {
// The names of a tool's output: "<stem> (<suffix>).<ext>" in the source's output folder, then
// " 2", " 3", … before the extension; `ext` absent takes the source's normalised extension. The
// output takes the first that is free when it is published.
FileSafety::NameFor output(
    const std::filesystem::path& source, Tool tool, const std::optional<std::string>& ext = std::nullopt);
}
