#pragma once

#include "core/catalog.h"

#include <vector>

namespace ArchiveEngine {
// Packs the items into one archive ("zip", "tar" or "tgz") in the first item's output folder.
fs::path create(const std::vector<fs::path>& items, const OutputFormat& format);
// Unpacks beside the source, never overwriting; the result is what was made.
fs::path extract(const fs::path& archive);
// Unpacks into a temporary folder and packs the entries again as `format` beside the source.
fs::path repack(const fs::path& archive, const OutputFormat& format);
}
