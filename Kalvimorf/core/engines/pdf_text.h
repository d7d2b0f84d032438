#pragma once

#include "core/base/catalog.h"

#include <string>
#include <vector>

// A PDF's text layer, on poppler's text layout alone (no imaging library), so that the light
// worker program can extract it.
namespace PDFText {

// Every page's text in reading order, whatever the page's rotation and boxes: all that lies within
// the crop box, which is what the page shows. Empty for a page without text. Throws
// ConversionError::unreadable when the document does not open.
std::vector<std::string> pageTexts(const fs::path& source);

// The text file beside the source: the pages after each other, a line feed between two; a
// document without any text (a scan) gives an empty file.
fs::path convert(const fs::path& source);

}
