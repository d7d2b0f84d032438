#pragma once

#include "core/engines/image_engine.h"

#include <optional>
#include <string_view>

// JPEG 2000 decoded whole by OpenJPEG itself, on one thread, as its own tools decode it. The
// image library's reader decodes in windows of 512 pixels, which OpenJPEG 2.5 does not do for a
// high-throughput codestream (every window came out grey 128), and has corrupted its heap on
// pictures OpenJPEG decodes whole.
namespace Jpeg2000 {

// Whether the bytes are a high-throughput codestream (or a JP2 file holding one), which only a
// whole decode reads.
bool highThroughput(std::string_view file);

// The picture of a JPEG 2000 file (JP2 or bare codestream), its colour profile with it.
// Nothing when it is a classic codestream too large to hold whole, or one whose components are
// not all of one size or colour space not grey or RGB: the image library's reader takes those.
// Throws ConversionError: damaged when OpenJPEG fails on it, a refusal when it is high-throughput
// and too large to hold.
std::optional<vips::VImage> decode(std::string_view file);

}
