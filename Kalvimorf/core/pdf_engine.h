#pragma once

#include "core/catalog.h"
#include "core/progress.h"

#include <vector>

namespace PDFEngine {
// The text file, the single page image, or the folder of page images.
fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress);
fs::path merge(const std::vector<fs::path>& sources);
}
