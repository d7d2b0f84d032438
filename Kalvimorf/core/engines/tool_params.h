#pragma once

#include "core/base/catalog.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The 18 file tools of the tools mode as the engines and the command line know them: raw values,
// kinds and output suffixes. Titles and the cards' choices stay with the tools room.
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
std::string suffix(Tool tool);
MediaKind kind(Tool tool);
// The whole selection is one input (the joins).
bool isBatch(Tool tool);
// The first name an output of `tool` for `source` asks for: "<stem> (<suffix>).<ext>" in the
// source's output folder. Taken names become "… 2", "… 3" when the output is published.
std::filesystem::path preferredOutput(const std::filesystem::path& source, Tool tool, const std::string& ext);
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
    bool operator==(const ToolParams&) const = default;
};

// A tool's own failure; what() is the sentence shown to the user.
class ToolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The command line's "key=value" pairs over `params`: quality, maxSide, resolution and scale take
// decimal integers (a value that does not read leaves the field; "scale" turns useMaxSide off
// either way), aspect, start, end and pages take the text. Pairs without a key or a value and
// unknown keys are ignored; a later pair wins.
ToolParams withPairs(ToolParams params, const std::vector<std::string>& pairs);
// The pairs that give `params` back through withPairs over the defaults ("scale" only when the
// percentage applies, "end" only when there is one), as a job carries them to a worker.
std::vector<std::string> pairsOf(const ToolParams& params);
