#pragma once

#include "core/engines/tool_params.h"

#include <filesystem>
#include <string>
#include <vector>

// The four PDF tools: compress, split, rotate and extract pages.
namespace PDFTools {
namespace fs = std::filesystem;

// A page list ("1-3, 5, 8-") as 0-based indices in the order written, duplicates kept: pieces
// split at "," and ";", each a page n, a range a-b or an open range a- / -b; numbers outside
// 1…count are dropped. Ranges are clamped to 1…count before they are expanded.
std::vector<int> pageIndices(const std::string& pages, int count);

// Images drawn larger than their page at this many pixels per inch are downsampled to it.
inline constexpr double compressPPI = 150;

// One PDF tool on one file; returns the written file, or the new folder for a split. Throws
// ConversionError (unreadable, writeFailed, unsupported) or ToolError.
fs::path run(Tool tool, const fs::path& source, const ToolParams& params);
}
