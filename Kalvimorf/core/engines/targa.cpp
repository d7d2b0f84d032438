#include "core/engines/targa.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"

#include <array>
#include <cstdint>

namespace Targa {

namespace {

[[noreturn]] void damaged() { throw ConversionError::because(ErrorCauses::damaged); }

unsigned le16(std::string_view bytes, size_t at)
{
    return unsigned(uint8_t(bytes[at])) | unsigned(uint8_t(bytes[at + 1])) << 8;
}

// One stored pixel of `depth` bits as blue, green, red and alpha (or grey and alpha).
std::array<unsigned char, 4> colour(const unsigned char* stored, int depth, bool grey)
{
    if (grey)
        return {stored[0], depth == 16 ? stored[1] : (unsigned char)255, 0, 0};
    if (depth == 15 || depth == 16) {
        const unsigned value = stored[0] | unsigned(stored[1]) << 8;
        auto five = [&](int shift) {
            return (unsigned char)(((value >> shift) & 31) * 255 / 31);
        };
        return {five(0), five(5), five(10), 255};
    }
    return {stored[0], stored[1], stored[2], depth == 32 ? stored[3] : (unsigned char)255};
}

}

std::pair<int, int> size(std::string_view bytes)
{
    if (bytes.size() < 18)
        return {0, 0};
    return {int(le16(bytes, 12)), int(le16(bytes, 14))};
}

Picture decode(std::string_view bytes)
{
    if (bytes.size() < 18)
        damaged();
    const unsigned idLength = uint8_t(bytes[0]), mapType = uint8_t(bytes[1]), type = uint8_t(bytes[2]);
    const unsigned mapFirst = le16(bytes, 3), mapLength = le16(bytes, 5), mapDepth = uint8_t(bytes[7]);
    const int width = int(le16(bytes, 12)), height = int(le16(bytes, 14));
    const int depth = uint8_t(bytes[16]), descriptor = uint8_t(bytes[17]);
    const unsigned kind = type & 7;
    const bool runs = type & 8;
    const bool mapped = kind == 1, grey = kind == 3;
    if ((kind != 1 && kind != 2 && kind != 3) || type > 11 || mapType > 1 || width == 0 || height == 0)
        damaged();
    if ((mapped && (mapType != 1 || (depth != 8 && depth != 16)))
        || (kind == 2 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        || (grey && depth != 8 && depth != 16))
        damaged();
    const int alphaBits = descriptor & 15;
    size_t at = 18 + idLength;
    std::vector<std::array<unsigned char, 4>> palette;
    if (mapType == 1) {
        if (mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)
            damaged();
        const size_t entry = (mapDepth + 7) / 8;
        if (at > bytes.size() || (bytes.size() - at) / entry < mapLength)
            damaged();
        for (unsigned i = 0; i < mapLength; ++i)
            palette.push_back(
                colour(reinterpret_cast<const unsigned char*>(bytes.data()) + at + i * entry, int(mapDepth), false));
        at += mapLength * entry;
    }
    // Alpha only where the file says it holds some: many 32-bit files leave the fourth byte at 0.
    const bool alpha = grey ? depth == 16 : mapped ? (mapDepth == 32 && alphaBits > 0) : (depth == 32 && alphaBits > 0);
    Picture picture{width, height, grey ? (alpha ? 2 : 1) : (alpha ? 4 : 3), {}};
    const size_t count = size_t(width) * size_t(height);
    picture.pixels.resize(count * size_t(picture.bands));

    const size_t stored = size_t(depth + 7) / 8;
    auto put = [&](size_t index, const unsigned char* source) {
        std::array<unsigned char, 4> value;
        if (mapped) {
            const unsigned entry = stored == 1 ? source[0] : unsigned(source[0] | source[1] << 8);
            if (entry < mapFirst || entry - mapFirst >= palette.size())
                damaged();
            value = palette[entry - mapFirst];
        } else {
            value = colour(source, depth, grey);
        }
        // Rows are stored from the bottom unless the descriptor says top, and from the right
        // when it says so.
        const size_t row = index / size_t(width), column = index % size_t(width);
        const size_t y = (descriptor & 0x20) ? row : size_t(height) - 1 - row;
        const size_t x = (descriptor & 0x10) ? size_t(width) - 1 - column : column;
        unsigned char* out = picture.pixels.data() + (y * size_t(width) + x) * size_t(picture.bands);
        if (grey) {
            out[0] = value[0];
            if (alpha)
                out[1] = value[1];
        } else {
            out[0] = value[2];
            out[1] = value[1];
            out[2] = value[0];
            if (alpha)
                out[3] = value[3];
        }
    };
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    auto take = [&](size_t pixels) {
        if (at > bytes.size() || (bytes.size() - at) / stored < pixels)
            damaged();
        const unsigned char* first = data + at;
        at += pixels * stored;
        return first;
    };
    if (!runs) {
        const unsigned char* source = take(count);
        for (size_t i = 0; i < count; ++i)
            put(i, source + i * stored);
        return picture;
    }
    // Packets may run across rows, as the first version of the format allows.
    size_t done = 0;
    while (done < count) {
        if (at >= bytes.size())
            damaged();
        const unsigned packet = data[at++];
        const size_t length = std::min<size_t>((packet & 127) + 1, count - done);
        if (packet & 128) {
            const unsigned char* source = take(1);
            for (size_t i = 0; i < length; ++i)
                put(done + i, source);
        } else {
            const unsigned char* source = take(length);
            for (size_t i = 0; i < length; ++i)
                put(done + i, source + i * stored);
        }
        done += length;
    }
    return picture;
}

}
