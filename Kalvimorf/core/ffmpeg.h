#pragma once

#include "core/progress.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The ffmpeg/ffprobe pair in resources/bin beside the executable.
namespace FFmpeg {
// resources/bin/<name> when it exists and is executable.
std::optional<std::string> locate(const std::string& name);
// The same lookup in a given resources folder.
std::optional<std::string> locate(const std::string& name, const std::filesystem::path& resources);

// The duration in seconds as ffprobe reports it; none when ffprobe is missing, fails or prints
// no number. Blocks until ffprobe exits.
std::optional<double> duration(const std::filesystem::path& media);

// A path as ffmpeg and ffprobe must be given it: absolute, since in a relative path they read
// "name:rest" as a protocol and a leading "-" as an option.
std::string pathArgument(const std::filesystem::path& path);

// What every ffmpeg run starts with: errors only on standard error, key=value progress records
// on standard output, no standard input, and never overwrite an existing output ("-n").
const std::vector<std::string>& prefix();

// Runs ffmpeg with the fixed prefix and `arguments`; progress from its -progress output, called
// on the calling thread, in order, and never after run() returned. Throws ConversionError
// (ffmpegMissing, ffmpeg with its last error line) or CancellationError; cancelling the current
// task terminates ffmpeg.
void run(const std::vector<std::string>& arguments, std::optional<double> duration, const Progress& progress);

// Turns ffmpeg's -progress output into fractions of `duration`. Output arrives in arbitrary
// chunks, so a line cut between two chunks is held back until its end arrives.
class ProgressParser {
public:
    ProgressParser(std::optional<double> duration, Progress progress);
    void feed(std::string_view chunk);

private:
    void parseLine(std::string_view line);

    double duration_ = 0;
    Progress progress_;
    std::string pending_;
};
}
