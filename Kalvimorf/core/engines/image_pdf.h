#pragma once

#include "core/engines/image_engine.h"

// The image engine's PDF writer: one page per picture, the page the picture's size at its
// resolution. JPEG files go in as their own stream (turned by the page, not re-encoded); other
// pixels go in Flate-compressed, losslessly, with alpha as a soft mask and the colour profile
// kept. qpdf lays out the document around the streams encoded here; a single picture without
// alpha too large to hold goes into a file written here, its samples streamed. Throws
// ConversionError::writeFailed, the file system's error or qpdf's, or vips::VError when the
// pixels cannot be read.
namespace ImagePDF {
void write(const std::vector<ImageEngine::Picture>& pictures, FileSafety::NewFile& file);

// The page size in points of a picture: its pixels at its resolution, 72 dpi when unstated.
std::pair<double, double> pageSize(const ImageEngine::Picture& picture);
}
