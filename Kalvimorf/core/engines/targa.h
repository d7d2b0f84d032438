#pragma once

#include <string_view>
#include <vector>

// Targa files as programs write them: true colour, grey and colour-mapped, raw or run-length
// encoded, of 8, 15, 16, 24 or 32 bits, from either corner. Qt's reader takes only raw true colour
// with the second version's footer, which leaves out most files people have. Any bytes at all
// must be safe to pass.
namespace Targa {

struct Picture {
    int width = 0;
    int height = 0;
    int bands = 0;  // 1 grey, 2 grey and alpha, 3 colour, 4 colour and alpha
    std::vector<unsigned char> pixels;  // top row first, `bands` bytes a pixel
};

// The size the header gives, from its first 18 bytes; {0, 0} for fewer.
std::pair<int, int> size(std::string_view bytes);

// Throws ConversionError (damaged) for a file that is not one or is cut short. The caller bounds
// the size first (see size()).
Picture decode(std::string_view bytes);

}
