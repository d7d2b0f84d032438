#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"
#include "core/engines/ffmpeg.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Audio and video conversion through ffmpeg, with codec settings chosen by output extension and
// the quality level in force.
namespace MediaEngine {
// Converts `source` into a free name beside it (or in the task's folder); the partial output is
// removed when the run fails or is cancelled.
fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress);
// The codec part of an ffmpeg command for an output extension, at Quality::levelFor(ext); the
// caller puts "-i" and the input before it and the output path after it. None for an extension
// it does not know.
std::optional<std::vector<std::string>> arguments(const std::string& ext);
// Bounds what the video encoder of `codec` (a list from arguments(), or of a tool) holds at once
// for a large picture of `source` (FFmpeg::largeFrame): its threads and how far it looks ahead.
// Unchanged for smaller pictures, where they cost little memory and save time; `shortSide` is the
// shorter side the picture is scaled down to before it is encoded, where it is.
void boundEncoder(
    std::vector<std::string>& codec, const FFmpeg::Streams& source, std::optional<int> shortSide = std::nullopt);
// The codec part of an output of `ext` that copies `source`'s picture and sound as they are,
// where the container takes them and the quality in force asks for no smaller picture: a phone's
// film into MOV is then a copy of seconds, not a re-encode of minutes. None otherwise.
std::optional<std::vector<std::string>> copyInto(const std::string& ext, const FFmpeg::Streams& source);
// A scale filter that keeps both sides even and, with a cap, limits the shorter side to it
// without ever enlarging the frame.
std::string capFilter(std::optional<int> shortSide);
// A GIF in two runs of ffmpeg: the palette of all its frames first, into a file, then the frames
// dithered with it. `inputs` are ffmpeg's inputs, each with its options; `graph` the filters that
// make the picture from them, or empty; `picture` the label of what the GIF shows, a stream of an
// input ("0:V:0") or an output of `graph`. The palette's run counts against `duration` (none: the
// first input's length); `frames` adds the output to the second run's arguments and runs it.
using FramesRun = std::function<FFmpeg::Report(const std::vector<std::string>& arguments, const Progress& progress)>;
FFmpeg::Report writeGif(const std::vector<std::string>& inputs, const std::string& graph, const std::string& picture,
    std::optional<double> duration, const Progress& progress, const FramesRun& frames);
// The ffmpeg muxer that writes files of `ext`, for outputs that have no name (and so no
// extension) while they are written. None for an extension it does not know.
std::optional<std::string> muxer(const std::string& ext);
}
