#pragma once

#include "core/base/progress.h"
#include "core/engines/ffmpeg.h"
#include "core/engines/tool_params.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The audio and video tools through ffmpeg: compress, trim, mute, rotate, normalise, and the joins.
namespace MediaTools {
namespace fs = std::filesystem;

// A trim time: blank → none; a number of seconds ("90", "5,5"); or a clock "m:ss" / "h:mm:ss"
// with decimal seconds ("0:02,5"), as the trim editor reads it. None when it reads as neither.
std::optional<double> readTime(const std::string& text);
// The shortest text that reads back as `seconds`, always with a decimal point: "90.0", "12.5".
std::string timeText(double seconds);

// The ffmpeg arguments of a single-file tool between the fixed prefix and the output: the
// options before "-i", "-i" and the source, the output options. `sampleRate` is the source's.
// Throws ToolError for a trim whose end is not after its start, before anything runs. A video
// tool takes the first picture of `streams` (the source's, where probed), never a second track
// or cover art, and bounds its decoder and encoder by that picture's size.
std::vector<std::string> arguments(Tool tool, const fs::path& source, const ToolParams& params, const std::string& ext,
    std::optional<int> sampleRate, const FFmpeg::Streams& streams = {});

// The output extension of a single-file tool for `source`.
std::string outputExt(Tool tool, const fs::path& source);

// One single-file tool; returns the output, once ffprobe finds in it the stream the tool is for,
// about as long as the source (or the trim's range, cut at the source's end). A failed or
// cancelled run leaves none.
fs::path run(Tool tool, const fs::path& source, const ToolParams& params, const Progress& progress);

// A media tool's job: a join of all `sources`, any other tool on the one source it is given.
fs::path perform(Tool tool, const std::vector<fs::path>& sources, const ToolParams& params, const Progress& progress);

// Joins `sources`, sorted by name as the file manager shows them, into one file named after the
// first: a stream copy when they share a format and their streams are alike in everything a copy
// keeps (kinds, codecs, sizes, rates, layouts) and it works, else a re-encode at the first one's
// size, with silence for a part without sound.
fs::path join(Tool tool, const std::vector<fs::path>& sources, const Progress& progress);

}
