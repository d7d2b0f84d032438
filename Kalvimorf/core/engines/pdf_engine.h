#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"

#include <vector>

// PDF to text or page images, and several PDFs merged into one.
namespace PDFEngine {

// Page images are rendered at this resolution and written at this lossy quality, whatever the
// quality presets say.
inline constexpr double renderDPI = 300;
inline constexpr double pageImageQuality = 0.9;

// The text file, the single page image, or the folder of page images ("base (PNG)/base -
// página 001.png" …). Pages are drawn on every core, yet progress is reported from the calling
// thread after each page image, in page order; text reports none. A cancelled job stops between
// pages; whatever was written by then is removed.
fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress);

// All pages of `sources`, in order, appended to the first; written, never encrypted, as
// "first – combinado.pdf". Nothing is written when any source does not open; the error names it.
fs::path merge(const std::vector<fs::path>& sources);

}
