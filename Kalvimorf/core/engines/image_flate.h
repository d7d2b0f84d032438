#pragma once

#include "core/base/file_safety.h"

#include <vips/vips8>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Lossless pixel storage shared by the PNG and PDF writers of the image engine: rows filtered
// as PNG does and deflated in parallel slices.
namespace ImageFlate {

// An image held in memory: height rows of width pixels of `bands` samples, each 1 or 2 bytes
// in the machine's order.
struct Samples {
    const unsigned char* data;
    int width;
    int height;
    int bands;
    int sampleBytes;
};

// The image as grey or RGB (CMYK too when `cmykAllowed`), with or without alpha, 8 or 16 bits:
// what PNG and PDF store as they are. A converted image loses its colour profile.
vips::VImage storable(const vips::VImage& image, bool cmykAllowed);

// Samples first … first + count - 1 of every pixel as one zlib stream of PNG-filtered rows
// (16-bit samples big-endian), the form of PNG's IDAT and of a PDF Flate stream with
// /Predictor 15. Throws ConversionError::writeFailed.
std::string compress(const Samples& samples, int first, int count);

// A PNG of `samples` made on the calling thread, rows unfiltered and deflated at `level`, stating
// `pixelsPerMetre` both ways: for callers that already keep every core busy with images of their
// own, where the parallel writer's threads would only add to the count. Throws
// ConversionError::writeFailed.
std::string plainPNG(const Samples& samples, int level, uint32_t pixelsPerMetre);

// The samples of `image` (storable, every band) as one zlib stream of PNG-filtered rows, as a PDF
// Flate stream with /Predictor 15 holds them, deflated on every core as writePNG does and handed
// to `put` piece by piece, in order, while the pixels decode: never the whole picture nor its
// whole compressed copy. Throws as writePNG.
void streamFlate(const vips::VImage& image, const std::function<void(std::string_view)>& put);

// Plain zlib compression of a small block (colour profiles).
std::string deflate(const std::string& data);

// Our own PNG writer rather than the library's saver, for speed: the library deflates on one
// core. The pixels stream through: vips decodes strip by strip while slices of rows are filtered
// and deflated on every core, and each finished slice goes straight into the file. A 6000 × 4000
// JPEG became a PNG in 0.72 s (whole run of the program, 94 MiB peak) against 3.5 s and 70 MiB
// for `vips copy` at the same compression level (4) and row filters, on 8 busy cores;
// `bench/memory.sh` compares.
// Writes `image` (already storable) into `file` as a PNG with its colour profile and, when
// given, an Exif block; no resolution is stated. Throws ConversionError::writeFailed, the file
// system's error, or vips::VError when the pixels cannot be read.
void writePNG(const vips::VImage& image, const std::optional<std::string>& exif, FileSafety::NewFile& file);

}
