#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"

#include <QImage>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The media side of the trim editor: writes the kept ranges of one file, by stream copy or
// re-encoded, and reads what its timeline shows (loudness peaks, frames, which streams exist).
// Nothing here touches a window.
namespace TrimMedia {
namespace fs = std::filesystem;

// One kept stretch of the source, in seconds from its start.
using Range = std::pair<double, double>;

// Writes the ranges of `source` into one file and returns it. `ext` empty keeps the source's
// format where the program can write it, else MP4 (video) or M4A (audio). `fast` copies the
// streams when the format stays the same. Named "<stem> (aparado).<ext>" in the output folder,
// or "<stem>.<ext>" with `inFolder` (the batch's own folder), never replacing anything; a
// failed or cancelled export leaves nothing behind. Ranges stop at the source's end; the output
// is checked as a conversion's is. Throws ToolError (no range keeps anything, before or after
// the end is known), ConversionError or CancellationError.
fs::path exportRanges(const fs::path& source, const std::vector<Range>& ranges, const std::string& ext, bool fast,
    MediaKind kind, bool inFolder, const Progress& progress);

// The ones below block while their child runs and end it at once when the calling task is
// cancelled, giving what they give on a failure.
// Of a file of many streams, the decoders' options (before its input) that take its first picture
// and sound alone, as exportRanges() does; empty for any other file, whose streams are taken as
// they are, or where they cannot be listed.
std::vector<std::string> streamsTaken(const fs::path& file);
// How long the file plays, as its probe says; of a file of many streams (`taken` from
// streamsTaken() not empty), its first picture and sound alone are probed; none on any failure.
std::optional<double> length(const fs::path& file, const std::vector<std::string>& taken);
// Whether ffprobe finds a stream of `type` ("v" or "a"); false on any failure.
bool hasStream(const fs::path& file, const std::string& type);
// `count` or more loudness peaks of the whole file, 0…1 with the loudest at 1; empty on any
// failure. Blocks while ffmpeg decodes. With `taken`, those of the first sound.
std::vector<float> peaks(const fs::path& file, int count, const std::vector<std::string>& taken = {});
// The frame at `seconds`, `height` pixels high; none on any failure. Blocks while ffmpeg runs.
// With `taken`, one of the first picture.
std::optional<QImage> frame(
    const fs::path& file, double seconds, int height, const std::vector<std::string>& taken = {});

// The pieces of the above, for tests.
namespace Detail {
// Ranges with start < end, in time order (equal starts keep their order).
std::vector<Range> usable(const std::vector<Range>& ranges);
// The ranges cut at `length` where it is known, those left empty dropped.
std::vector<Range> within(const std::vector<Range>& ranges, std::optional<double> length);
std::string targetExt(const fs::path& source, const std::string& ext, MediaKind kind);
bool isAudioOnly(const std::string& ext);
// "%.3f", always with a point.
std::string seconds(double value);
// The shortest text that reads back as the same number, with at least one decimal ("90.0").
std::string shortest(double value);
// The stream copy of one range, without the streams `leftOut` indexes. With `firstStreams`
// (FFmpeg::onlyFirstStreams() of a source that holds more pictures or sounds) only the first
// picture and sound are copied, with the subtitles and attachments.
std::vector<std::string> fastCut(const fs::path& source, const Range& range, const fs::path& output,
    const std::vector<int>& leftOut = {}, const std::vector<std::string>& firstStreams = {});
// The re-encode of one range with the target's codec arguments; `firstStreams` as for fastCut().
std::vector<std::string> exactCut(const fs::path& source, const Range& range, const std::vector<std::string>& codec,
    const fs::path& output, const std::vector<std::string>& firstStreams = {});
struct Graph {
    std::string text;
    std::vector<std::string> maps;
};
Graph joinGraph(const std::vector<Range>& ranges, bool video, bool audio);
// The whole exact join: graph, maps, codec arguments without their own video filter.
std::vector<std::string> exactJoin(const fs::path& source, const std::vector<Range>& ranges, bool video, bool audio,
    std::vector<std::string> codec, const fs::path& output, const std::vector<std::string>& firstStreams = {});
// Mono s16le samples to peaks (see peaks()).
std::vector<float> reducePeaks(std::string_view samples, int count);
}
}
