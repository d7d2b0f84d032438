#pragma once

#include "core/catalog.h"
#include "core/progress.h"

#include <optional>
#include <string>
#include <vector>

namespace MediaEngine {
fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress);
std::optional<std::vector<std::string>> arguments(const std::string& ext);
std::string capFilter(std::optional<int> shortSide);
}
