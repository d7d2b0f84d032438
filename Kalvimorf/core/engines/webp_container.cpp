#include "core/engines/webp_container.h"

#include <cstdint>
#include <set>

namespace WebPContainer {

namespace {

uint32_t little(std::string_view bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

void putLittle(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = char(value >> (8 * i));
}

// The extended header's flags of the chunks that go.
constexpr uint8_t profileFlag = 0x20, exifFlag = 0x08, xmpFlag = 0x04;

}

std::optional<std::string> withoutMetadata(std::string_view file)
{
    if (file.size() < 12 + 8 || file.substr(0, 4) != "RIFF" || file.substr(8, 4) != "WEBP")
        return std::nullopt;
    const uint64_t riffEnd = uint64_t(little(file, 4)) + 8;
    if (riffEnd > file.size() || riffEnd < 12 + 8)
        return std::nullopt;
    static const std::set<std::string_view> picture = {"VP8X", "VP8 ", "VP8L", "ALPH", "ANIM", "ANMF"};
    std::string kept = std::string(file.substr(0, 12));
    // A simple file is its one coded picture, which readers take from the first chunk and
    // nothing after it; an extended one starts with the header that names its chunks.
    const auto first = file.substr(12, 4);
    if (first != "VP8X" && first != "VP8 " && first != "VP8L")
        return std::nullopt;
    const bool simple = first != "VP8X";
    bool image = false;
    for (size_t at = 12; at < riffEnd && !(simple && image);) {
        if (riffEnd - at < 8)
            return std::nullopt;
        const auto name = file.substr(at, 4);
        const uint64_t size = little(file, at + 4);
        const uint64_t padded = size + (size & 1);
        if (padded > riffEnd - at - 8)
            return std::nullopt;
        if (picture.count(name)) {
            const size_t from = kept.size();
            kept += file.substr(at, size_t(8 + padded));
            if (name == "VP8X") {
                if (from != 12 || size < 10)
                    return std::nullopt;
                kept[from + 8] = char(uint8_t(kept[from + 8]) & ~(profileFlag | exifFlag | xmpFlag));
            }
            image = image || name == "VP8 " || name == "VP8L" || name == "ANMF";
        }
        at += size_t(8 + padded);
    }
    if (!image)
        return std::nullopt;
    putLittle(kept, 4, uint32_t(kept.size() - 8));
    return kept;
}

}
