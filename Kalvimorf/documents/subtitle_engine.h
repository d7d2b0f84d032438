#pragma once

#include "core/base/catalog.h"

#include <optional>
#include <string>
#include <vector>

// SRT and WebVTT subtitles, and their text alone.
namespace SubtitleEngine {

struct Cue {
    double start = 0;  // seconds
    double end = 0;
    std::string text;  // lines joined by "\n", trimmed, never empty
};

// No subtitle file comes near this size: a film's take a few hundred kilobytes.
inline constexpr unsigned long long maxFileSize = 100ULL << 20;
inline constexpr const char* tooLarge = "O arquivo é grande demais para ser uma legenda (mais de 100 MB).";

// Writes the cues of an SRT or VTT file as "srt", "vtt" or "txt" as a new file under a free
// name in the output folder, and returns its path. A file past maxFileSize fails with tooLarge.
fs::path convert(const fs::path& source, const OutputFormat& format);
// The cues in file order; blocks without a timing line, a readable time or text are skipped.
std::vector<Cue> parse(const std::string& text);
// "hh:mm:ss" then the separator and three digits of milliseconds; hours widen past 99.
std::string stamp(double seconds, char separator);

}
