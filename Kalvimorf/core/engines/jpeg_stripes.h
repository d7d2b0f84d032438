#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

// Decodes a JPEG scaled down by the decoder in stretches of rows side by side: each thread opens
// the file and skips the rows before its own stretch (skipping still reads the coded data, but
// leaves out the transform and the colour work that make most of a decode's time).
namespace JpegStripes {

struct Decoded {
    std::unique_ptr<unsigned char[]> bytes;  // rows top to bottom, `bands` samples a pixel
    int width = 0;
    int height = 0;
    int bands = 0;
};

// Turns `count` decoded rows of `width` pixels of `bands` samples (`from`, rows `fromStride` bytes
// apart) into the caller's own samples (`to`, rows `toStride` bytes apart).
using Convert = std::function<void(const unsigned char* from, size_t fromStride, int bands, unsigned char* to,
    size_t toStride, int width, int count)>;

// The picture in `file` scaled down by `shrink` (1, 2, 4 or 8), 8-bit RGB or grey, sample for
// sample as libvips's jpegload with that shrink gives it, decoded in `stretches` stretches at
// once. Nothing when the file is one it leaves to libvips (progressive, CMYK, other colour
// spaces) or when the decoder reports anything at all, a warning included. With `convert`, the
// rows pass through it a few at a time as they are decoded and the picture holds
// `convertedBands` samples a pixel, so that the decoder's own pixels are never held whole.
std::optional<Decoded> decode(const std::filesystem::path& file, int shrink, int stretches,
    const Convert& convert = {}, int convertedBands = 0);

// What the decoder holds to decode `file` when its scans do not come as one interleaved pass
// (progressive, or a component a scan): every coefficient of the picture, however few bytes the
// file is. Nothing for a file decoded in one pass, which holds a row of blocks at a time, or for
// one the decoder cannot read the header of.
std::optional<double> wholeCoefficientBytes(const std::filesystem::path& file);

}
