#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"

#include <QImage>

#include <optional>
#include <string>
#include <vector>

namespace Poppler {
class Page;
}

// PDF to text or page images, and several PDFs merged into one.
namespace PDFEngine {

// Page images are rendered at this resolution and written at this lossy quality, whatever the
// quality presets say.
inline constexpr double renderDPI = 300;
inline constexpr double pageImageQuality = 0.9;

// Every page's text in reading order, whatever the page's rotation and boxes: all that lies within
// the crop box, which is what the page shows. Empty for a page without text. Throws
// ConversionError::unreadable when the document does not open.
std::vector<std::string> pageTexts(const fs::path& source);

// The text file, the single page image, or the folder of page images ("base (PNG)/base -
// página 001.png" …). Pages are drawn on every core, yet progress is reported from the calling
// thread after each page image, in page order; text reports none. A cancelled job stops between
// pages; whatever was written by then is removed.
fs::path convert(const fs::path& source, const OutputFormat& format, const Progress& progress);

// All pages of `sources`, in order, appended to the first; written, never encrypted, as
// "first – combinado.pdf". Nothing is written when any source does not open; the error names it.
fs::path merge(const std::vector<fs::path>& sources);

// The page's crop box at `dpi`, on opaque white with the page's rotation applied; its pixel size
// is truncated, never rounded. No image when a side comes to less than one pixel or the bitmap
// cannot be made.
std::optional<QImage> render(const Poppler::Page& page, double dpi);

}
