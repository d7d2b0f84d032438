#pragma once

#include "core/engines/image_engine.h"

#include <optional>
#include <string_view>

// JPEG 2000 decoded whole by OpenJPEG itself, on one thread, as its own tools decode it. The
// image library's reader decodes in windows of 512 pixels, which OpenJPEG 2.5 does not do for a
// high-throughput codestream (every window came out grey 128), and makes room for the bands the
// header tells of, which a JP2 palette then outgrows (its heap broke on a 256 × 100 grey file).
namespace Jpeg2000 {

// The picture of a JPEG 2000 file (JP2 or bare codestream), its colour profile with it.
// Nothing when it is a classic codestream too large to hold whole, or one whose components are
// not all of one size or colour space not grey or RGB: the image library's reader takes those.
// Throws ConversionError: damaged when OpenJPEG fails on it, a refusal when only a whole decode
// reads it (high-throughput, or with a palette) and it is too large to hold or of another kind.
std::optional<vips::VImage> decode(std::string_view file);

}
