#pragma once

#include "core/base/catalog.h"
#include "core/base/output_formats.h"
#include "core/base/progress.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The 18 file tools of the tools mode. Everything else about a tool is its row in the catalogue
// (tool_params.cpp): names, texts, the options panel and the engine, so that
// a new tool is a case here, a row there and its engine's work.
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

// The engines' entries as the tool runner calls them (ToolEngines::run fills them in). A row names
// its engine as one of these members rather than by the function itself, so that the catalogue
// links no engine into the programs that only read it (the command line, the desktop).
struct ToolEngineEntries {
    using Entry = std::filesystem::path (*)(
        Tool, const std::vector<std::filesystem::path>&, const ToolParams&, const Progress&);
    Entry image, media, pdf, pdfCompress;
};

// One control of a tool's options panel, bound to a field of ToolParams.
struct ToolChoice {
    std::string_view label;
    // The value of a number or switch field; a text field takes `text`.
    int number = 0;
    std::string_view text = {};
};
struct ToolControl {
    enum class Kind {
        buttons,  // a row of exclusive buttons
        menu,  // a pop-up menu
        field,  // a line of text
        caption,  // a small note under the controls, `text` only
        modes,  // buttons over a switch that each show their own page of the controls after them
    };
    Kind kind;
    // The heading above the control, or the caption's text.
    std::string_view text;
    std::variant<std::monostate, int ToolParams::*, bool ToolParams::*, std::string ToolParams::*> field = {};
    std::vector<ToolChoice> choices = {};
    // Shown only while the modes control before it is at this choice; -1 always.
    int page = -1;
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
// The card's capital label; a long one breaks after its hyphen.
std::string label(Tool tool);
// The job's and the panel's name, and the card's detail.
std::string title(Tool tool);
// Asks for its parameters in the options panel before it runs.
bool needsOptions(Tool tool);
// The panel's controls, top to bottom, and the parameters it starts from.
const std::vector<ToolControl>& controls(Tool tool);
ToolParams panelStart(Tool tool);
// Opens the trim editor on the selection instead of running.
bool opensEditor(Tool tool);
// Where the tool runs (see Requests::road).
Road road(Tool tool);
// Its engine, one of ToolEngineEntries' members.
ToolEngineEntries::Entry ToolEngineEntries::*engine(Tool tool);
// The first name an output of `tool` for `source` asks for: "<stem> (<suffix>).<ext>" in the
// source's output folder. Taken names become "… 2", "… 3" when the output is published.
std::filesystem::path preferredOutput(const std::filesystem::path& source, Tool tool, const std::string& ext);
}

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
