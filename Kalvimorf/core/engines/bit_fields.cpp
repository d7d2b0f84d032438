#include "core/engines/bit_fields.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"

#include <array>
#include <bit>
#include <cstdint>

namespace BitFields {

namespace {

[[noreturn]] void damaged() { throw ConversionError::because(ErrorCauses::damaged); }

uint32_t le(std::string_view bytes, size_t at, int count)
{
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

constexpr size_t infoAt = 14;

struct Layout {
    int width = 0, height = 0, depth = 0;
    bool topDown = false;
    std::array<uint32_t, 4> masks{};  // red, green, blue, alpha
};

std::optional<Layout> layoutOf(std::string_view head)
{
    if (head.size() < infoAt + 40 || head.substr(0, 2) != "BM")
        return std::nullopt;
    const uint32_t infoSize = le(head, infoAt, 4), compression = le(head, infoAt + 16, 4);
    Layout layout;
    layout.depth = int(le(head, infoAt + 14, 2));
    const auto width = int32_t(le(head, infoAt + 4, 4)), height = int32_t(le(head, infoAt + 8, 4));
    if (infoSize < 40 || infoSize > 4096 || width <= 0 || height == 0 || height == INT32_MIN)
        return std::nullopt;
    if (layout.depth == 16 && compression == 0) {
        layout.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if ((layout.depth == 16 || layout.depth == 32) && (compression == 3 || compression == 6)) {
        // The masks sit where the version 2 header and later ones keep them, inside the header or
        // after the 40 bytes of the version 3 one; an alpha mask only in the version 3 header
        // and later, or after the 40 bytes with "alpha bit fields".
        const bool alpha = infoSize >= 56 || compression == 6;
        if (head.size() < infoAt + 40 + (alpha ? 16 : 12))
            return std::nullopt;
        for (size_t i = 0; i < (alpha ? 4U : 3U); ++i)
            layout.masks[i] = le(head, infoAt + 40 + 4 * i, 4);
    } else {
        return std::nullopt;
    }
    if (layout.depth == 16)
        for (auto& mask : layout.masks)
            mask &= 0xFFFF;
    if ((layout.masks[0] | layout.masks[1] | layout.masks[2]) == 0)
        return std::nullopt;
    layout.width = width;
    layout.topDown = height < 0;
    layout.height = height < 0 ? -height : height;
    return layout;
}

// A channel's value in 0…255 from the pixel's bits, its mask's largest value scaled to 255.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t largest = 0;

    explicit Channel(uint32_t bits) : mask(bits)
    {
        if (mask) {
            shift = std::countr_zero(mask);
            largest = mask >> shift;
        }
    }
    unsigned char operator()(uint32_t pixel) const
    {
        if (largest == 0)
            return 0;  // a channel the file has no bits for
        const uint64_t value = (pixel & mask) >> shift;
        return (unsigned char)((value * 255 + largest / 2) / largest);
    }
};

}

std::optional<std::pair<int, int>> size(std::string_view head)
{
    const auto layout = layoutOf(head);
    if (!layout)
        return std::nullopt;
    return std::pair(layout->width, layout->height);
}

Picture decode(std::string_view bytes)
{
    const auto layout = layoutOf(bytes);
    if (!layout)
        damaged();
    const uint64_t stride = (uint64_t(layout->width) * uint64_t(layout->depth) + 31) / 32 * 4;
    const uint64_t start = le(bytes, 10, 4);
    if (start > bytes.size() || (bytes.size() - start) / stride < uint64_t(layout->height))
        damaged();
    const std::array<Channel, 4> channels
        = {Channel(layout->masks[0]), Channel(layout->masks[1]), Channel(layout->masks[2]), Channel(layout->masks[3])};
    const bool alpha = layout->masks[3] != 0;
    Picture picture;
    picture.width = layout->width;
    picture.height = layout->height;
    picture.bands = alpha ? 4 : 3;
    picture.pixels.resize(size_t(picture.width) * size_t(picture.height) * size_t(picture.bands));
    const int step = layout->depth / 8;
    bool seenAlpha = false;
    unsigned char* out = picture.pixels.data();
    for (int y = 0; y < layout->height; ++y) {
        const int stored = layout->topDown ? y : layout->height - 1 - y;
        size_t at = size_t(start + stride * uint64_t(stored));
        for (int x = 0; x < layout->width; ++x, at += size_t(step)) {
            const uint32_t pixel = le(bytes, at, step);
            for (int band = 0; band < picture.bands; ++band)
                *out++ = channels[size_t(band)](pixel);
            if (alpha)
                seenAlpha = seenAlpha || out[-1] != 0;
        }
    }
    if (alpha && !seenAlpha) {
        for (size_t i = 3; i < picture.pixels.size(); i += 4)
            picture.pixels[i] = 255;
    }
    return picture;
}

}
