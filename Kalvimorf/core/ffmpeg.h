#pragma once

#include "core/progress.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The ffmpeg/ffprobe pair in resources/bin beside the executable.
namespace FFmpeg {
// resources/bin/<name> when it exists and is executable.
std::optional<std::string> locate(const std::string& name);
std::optional<double> duration(const std::filesystem::path& media);
// Runs ffmpeg with the fixed prefix and `arguments`; progress from its -progress output. Throws
// ConversionError (ffmpegMissing, ffmpeg with its last error line) or CancellationError.
void run(const std::vector<std::string>& arguments, std::optional<double> duration, const Progress& progress);
}
