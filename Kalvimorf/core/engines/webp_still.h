#pragma once

#include <vips/vips8>

#include <filesystem>

// A still WebP decoded straight into one block of 8-bit RGB or RGBA samples. The image library's
// loader held a still picture about three times over while it decoded (1.19 GB for 144
// megapixels, whatever the output), where this holds it once.
namespace WebPStill {

// The pixels of `file`, `width` × `height` as its header says, with an alpha band when `alpha`.
// Throws ConversionError: damaged for a file cut short or whose data does not decode.
vips::VImage decode(const std::filesystem::path& file, int width, int height, bool alpha);

}
