#pragma once

#include "core/engines/image_engine.h"

#include <optional>

// The pictures the image library refuses that the formats' other readers take, read by those
// readers inside the same job and bounds: TIFFs in the kinds its TIFF reader leaves out (chroma
// subsampled outside JPEG, old-style JPEG, tiles of separate planes) by libtiff's own RGBA reader,
// as libtiff's tiff2rgba decodes them; and the rest (a JPEG of 12 bits, an image sequence of HEIF
// or AVIF without a still picture) by ffmpeg's decoders, the first frame being the picture.
namespace SecondReaders {

// The first picture of a TIFF, upright and 8 bits a sample, with its resolution and Exif; nothing
// when libtiff cannot read it either (the error log then has libtiff's reason). Bounded like any
// picture held whole before a pixel is decoded. Throws ConversionError for a picture past the
// bounds.
std::optional<ImageEngine::Picture> tiff(const fs::path& file);

// Whether a JPEG is one the image library's 8-bit decoder cannot read: of 12 or 16 bits a sample,
// or lossless.
bool deepJpeg(const fs::path& file);

// Whether a TIFF's first picture is in tiles of separate planes, which the image library's reader
// takes by its header and refuses only once its pixels are read.
bool tiledPlanes(const fs::path& file);

// The first frame of the first picture stream as ffmpeg decodes it, shown as its container says
// (its rotation applied), 8 or 16 bits a sample as its decoder gives them; nothing when ffmpeg
// finds no picture in it or fails on it. Bounded like any picture held whole before ffmpeg is
// started. Throws ConversionError for a picture past the bounds, CancellationError.
std::optional<ImageEngine::Picture> firstFrame(const fs::path& file);

// The picture of ISO media (a HEIF or AVIF still or sequence) that the image library's HEIF reader
// cannot make: ffmpeg's first frame, turned and mirrored as the primary item's properties say, in
// their order (an AVIF whose size box gives the size after those instead of before them could not
// be made). Nothing when ffmpeg cannot decode it either. Throws as firstFrame().
std::optional<ImageEngine::Picture> isoPicture(const fs::path& file);

}
