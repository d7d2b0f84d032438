#pragma once

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

// Windows bitmaps of 16 and 32 bits a pixel whose channels are bit fields: masks of any width
// from 1 to 32 bits and at any place, after or inside any of the headers, with or without an
// alpha mask, and 16-bit pixels without masks (5 bits a channel). Qt's reader scales a channel
// by a whole factor of 256 over its largest value, which made every mask wider than 8 bits black
// and one of 5 bits reach 248, a 4-bit alpha 240. Any bytes at all must be safe to pass.
namespace BitFields {

struct Picture {
    int width = 0;
    int height = 0;
    int bands = 0;  // 3 colour, 4 colour and alpha
    std::vector<unsigned char> pixels;  // top row first, `bands` bytes a pixel
};

// The size of a bitmap this reader decodes, from its first 14 + 56 bytes; nothing for any other
// file (another depth or compression, another format, too few bytes).
std::optional<std::pair<int, int>> size(std::string_view head);

// Every channel scaled from its mask's range to 0…255, rounded; an alpha mask whose every value is
// 0 is taken for a writer that left it empty, and the picture is opaque. Throws ConversionError
// (damaged) for a file that size() does not take or that is cut short. The caller bounds the
// size first.
Picture decode(std::string_view bytes);

}
