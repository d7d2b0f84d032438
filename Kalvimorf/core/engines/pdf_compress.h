#pragma once

#include <filesystem>

// The PDF compress tool: images larger than their page at 150 pixels per inch are downsampled
// with libvips, then qpdf optimises the images, recompresses the streams and generates object
// streams.
namespace PDFCompress {

// Images drawn larger than their page at this many pixels per inch are downsampled to it.
inline constexpr double pixelsPerInch = 150;

// Writes "<stem> (comprimido).pdf" beside `source` and returns it. Throws ConversionError
// (unreadable, writeFailed).
std::filesystem::path run(const std::filesystem::path& source);
}
