#pragma once

#include "core/catalog.h"

#include <optional>
#include <string>

namespace SubtitleEngine {
fs::path convert(const fs::path& source, const OutputFormat& format);
// "1:02,5" → 62.5; two or three ":"-separated numbers, else nothing.
std::optional<double> time(const std::string& text);
}
