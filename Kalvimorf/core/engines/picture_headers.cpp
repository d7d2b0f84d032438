#include "core/engines/picture_headers.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/engines/mapped_file.h"

#include <cstdlib>
#include <map>

namespace PictureHeaders {

namespace {

constexpr std::string_view pngSignature("\x89PNG\r\n\x1a\n", 8);

uint64_t big(std::string_view bytes, size_t at, int size)
{
    uint64_t value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

uint64_t little(std::string_view bytes, size_t at, int size)
{
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | uint8_t(bytes[at + size_t(i)]);
    return value;
}

[[noreturn]] void damaged() { throw ConversionError::because(ErrorCauses::damaged); }

// The size a PNG's header states, when `bytes` starts with one.
std::optional<std::pair<uint32_t, uint32_t>> pngSize(std::string_view bytes)
{
    if (bytes.size() < 24 || !bytes.starts_with(pngSignature) || bytes.substr(12, 4) != "IHDR")
        return std::nullopt;
    return std::pair{uint32_t(big(bytes, 16, 4)), uint32_t(big(bytes, 20, 4))};
}

}

std::vector<Box> boxes(std::string_view bytes, size_t most)
{
    std::vector<Box> found;
    size_t at = 0;
    while (at + 8 <= bytes.size() && found.size() < most) {
        uint64_t size = big(bytes, at, 4);
        size_t header = 8;
        if (size == 1) {
            if (at + 16 > bytes.size())
                break;
            size = big(bytes, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = bytes.size() - at;
        }
        if (size < header || size > bytes.size() - at)
            break;
        found.push_back({bytes.substr(at + 4, 4), bytes.substr(at + header, size_t(size) - header)});
        at += size_t(size);
    }
    return found;
}

std::string_view content(const std::vector<Box>& found, std::string_view type)
{
    for (const auto& box : found)
        if (box.type == type)
            return box.content;
    return {};
}

void requireChunksWithinFile(const fs::path& file)
{
    const MappedFile mapped(file);
    const auto bytes = mapped.bytes();
    if (!bytes.starts_with(pngSignature))
        return;
    // Each chunk: its length, its type, its data and a checksum. What a length promises past the
    // file's end was never written.
    for (size_t at = pngSignature.size(); at + 8 <= bytes.size();) {
        const uint64_t length = big(bytes, at, 4);
        if (length > bytes.size() - at - 8)
            damaged();
        if (bytes.substr(at + 4, 4) == "IEND")
            return;
        at += 12 + size_t(length);
    }
}

std::vector<std::pair<uint32_t, uint32_t>> embeddedPngSizes(const fs::path& file)
{
    const MappedFile mapped(file);
    const auto bytes = mapped.bytes();
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    if (bytes.starts_with("icns")) {
        // Elements of a type and a length that counts its own eight bytes.
        for (size_t at = 8; at + 8 <= bytes.size();) {
            const uint64_t length = big(bytes, at + 4, 4);
            if (length < 8 || length > bytes.size() - at)
                break;
            if (const auto size = pngSize(bytes.substr(at + 8, size_t(length) - 8)))
                sizes.push_back(*size);
            at += size_t(length);
        }
    } else if (bytes.size() >= 6 && little(bytes, 0, 2) == 0) {
        // ICO and CUR: a directory of 16-byte entries, each with where its picture lies.
        const uint64_t count = little(bytes, 4, 2);
        for (uint64_t i = 0; i < count && 6 + 16 * (i + 1) <= bytes.size(); ++i) {
            const uint64_t at = little(bytes, size_t(6 + 16 * i + 12), 4);
            if (at < bytes.size())
                if (const auto size = pngSize(bytes.substr(size_t(at))))
                    sizes.push_back(*size);
        }
    }
    return sizes;
}

std::optional<uint64_t> gridTiles(const fs::path& file)
{
    const MappedFile mapped(file);
    std::string_view meta;
    for (const auto& box : boxes(mapped.bytes()))
        if (box.type == "meta" && box.content.size() >= 4)
            meta = box.content.substr(4);  // after its version and flags
    uint64_t primary = 0;
    std::map<uint64_t, std::string_view> types;
    uint64_t tiles = 0;
    std::vector<std::pair<uint64_t, uint64_t>> derived;  // each picture made of others, and of how many
    for (const auto& box : boxes(meta)) {
        const auto content = box.content;
        if (content.size() < 4)
            continue;
        const int version = uint8_t(content[0]);
        if (box.type == "pitm") {
            const int size = version == 0 ? 2 : 4;
            if (content.size() >= 4 + size_t(size))
                primary = big(content, 4, size);
        } else if (box.type == "iinf") {
            const size_t entries = version == 0 ? 6 : 8;
            if (content.size() < entries)
                continue;
            for (const auto& entry : boxes(content.substr(entries))) {
                const auto info = entry.content;
                if (entry.type != "infe" || info.size() < 4 || uint8_t(info[0]) < 2)
                    continue;
                const size_t id = uint8_t(info[0]) == 2 ? 2 : 4;
                if (info.size() >= 4 + id + 2 + 4)
                    types[big(info, 4, int(id))] = info.substr(4 + id + 2, 4);
            }
        } else if (box.type == "iref") {
            const int id = version == 0 ? 2 : 4;
            for (const auto& reference : boxes(content.substr(4))) {
                const auto from = reference.content;
                if (reference.type == "dimg" && from.size() >= size_t(id) + 2)
                    derived.emplace_back(big(from, 0, id), big(from, size_t(id), 2));
            }
        }
    }
    const auto type = types.find(primary);
    if (type == types.end() || type->second != "grid")
        return std::nullopt;
    for (const auto& [from, count] : derived)
        if (from == primary)
            tiles += count;
    return tiles;
}

void requireRunsWithinBitmap(const fs::path& file)
{
    const MappedFile mapped(file);
    const auto bytes = mapped.bytes();
    if (bytes.size() < 14 + 40 || !bytes.starts_with("BM") || little(bytes, 14, 4) < 40)
        return;
    const uint64_t compression = little(bytes, 30, 4), bits = little(bytes, 28, 2), offset = little(bytes, 10, 4);
    if (!((compression == 1 && bits == 8) || (compression == 2 && bits == 4)) || offset >= bytes.size())
        return;
    const uint64_t width = little(bytes, 18, 4);
    const auto height = uint64_t(std::abs(int64_t(int32_t(little(bytes, 22, 4)))));
    const auto data = bytes.substr(size_t(offset));
    uint64_t x = 0, y = 0;
    for (size_t at = 0; at + 2 <= data.size();) {
        const uint8_t count = uint8_t(data[at]), code = uint8_t(data[at + 1]);
        at += 2;
        if (count > 0) {
            // A run of `count` pixels of one colour (or two, in turn).
            if (y >= height || x + count > width)
                damaged();
            x += count;
        } else if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            return;
        } else if (code == 2) {
            if (at + 2 > data.size())
                return;
            x += uint8_t(data[at]);
            y += uint8_t(data[at + 1]);
            at += 2;
            if (y > height || x > width)
                damaged();
        } else {
            // `code` pixels written out, padded to a 16-bit boundary.
            if (y >= height || x + code > width)
                damaged();
            x += code;
            const size_t bytes = bits == 4 ? (size_t(code) + 1) / 2 : code;
            at += (bytes + 1) / 2 * 2;
        }
    }
}

}
