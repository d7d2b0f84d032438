#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// What a picture file's own structure declares, read before a library is handed the file: the
// libraries believe a length or a count the file states, and allocate or loop by it.
namespace PictureHeaders {
namespace fs = std::filesystem;

// Throws the damaged-file ConversionError when a chunk of the PNG `file` says it is longer than
// what follows it in the file: the readers allocate the length a text or palette chunk states
// before they find the file ends.
void requireChunksWithinFile(const fs::path& file);

// The width and height each PNG held inside the icon `file` (ICO, CUR or ICNS) states in its own
// header, which is the one its decoder believes, whatever the icon's directory says.
std::vector<std::pair<uint32_t, uint32_t>> embeddedPngSizes(const fs::path& file);

// How many tiles the primary picture of the HEIF or AVIF `file` is a grid of, from its item
// references; none when it is no grid or the boxes cannot be read (the library then says why).
std::optional<uint64_t> gridTiles(const fs::path& file);

// Throws the damaged-file ConversionError when the run-length coded pixels of the BMP `file`
// (RLE8 or RLE4) draw past the rows of its picture: a run past the buffer, which a reader clips
// and reports as a picture. Any other bitmap passes.
void requireRunsWithinBitmap(const fs::path& file);

// The boxes of ISO base media (HEIF, AVIF, MP4): each a type and its content, from a run of boxes,
// at most `most` of them. Any bytes are safe to pass: a box that says it runs past its parent ends
// the run.
struct Box {
    std::string_view type, content;
};
std::vector<Box> boxes(std::string_view run, size_t most = std::numeric_limits<size_t>::max());
// The content of the first box of `type` among `found`; empty when there is none.
std::string_view content(const std::vector<Box>& found, std::string_view type);
}
