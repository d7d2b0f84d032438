#pragma once

#include "core/catalog.h"

#include <vector>

namespace ImageEngine {
fs::path convert(const fs::path& source, const OutputFormat& format);
// One PDF page per image, in the given order.
fs::path mergeToPDF(const std::vector<fs::path>& sources);
}
