#pragma once

#include <optional>
#include <string>
#include <string_view>

// A WebP file's chunks, rewritten without decoding a pixel.
namespace WebPContainer {

// The file without its metadata: the Exif, XMP and colour profile chunks and every chunk a
// reader skips, the extended header's flags saying so; the picture's own chunks (frames, alpha,
// animation) as they were. Nothing when the bytes are not a WebP whose chunks add up.
std::optional<std::string> withoutMetadata(std::string_view file);

}
