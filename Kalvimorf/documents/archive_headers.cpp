#include "documents/archive_headers.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "documents/zip_tools.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace ArchiveHeaders {

namespace {

// Reads at offsets of a file; a read past the end or a failed one gives nothing, which ends a walk.
class Reader {
public:
    explicit Reader(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) { }

    explicit operator bool() const { return bool(fd_); }

    std::optional<std::string> at(uint64_t offset, size_t size) const
    {
        auto bytes = FileSafety::readUpTo(fd_.get(), size, off_t(offset));
        if (bytes && bytes->size() != size)
            return std::nullopt;
        return bytes;
    }

private:
    FileSafety::Fd fd_;
};

uint64_t little(const std::string& bytes, size_t at, size_t width)
{
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

// A header walk stops after this many blocks; an archive of more entries is read by the unpacker
// alone. It keeps a file of millions of empty headers from taking seconds here.
constexpr int maxBlocks = 100000;

// RAR 4: the main header's flag 0x80 encrypts every header after it, a file header's flag 0x04
// its data.
bool rar4Encrypted(const Reader& file)
{
    uint64_t offset = 7;
    for (int block = 0; block < maxBlocks; ++block) {
        const auto head = file.at(offset, 11);
        if (!head)
            return false;
        const auto type = uint8_t((*head)[2]);
        const auto flags = little(*head, 3, 2);
        const auto size = little(*head, 5, 2);
        if (size < 7)
            return false;
        if ((type == 0x73 && (flags & 0x80)) || (type == 0x74 && (flags & 0x04)))
            return true;
        uint64_t data = (type == 0x74 || (flags & 0x8000)) ? little(*head, 7, 4) : 0;
        if (type == 0x74 && (flags & 0x100)) {
            const auto high = file.at(offset + 32, 4);
            if (!high)
                return false;
            data |= little(*high, 0, 4) << 32;
        }
        if (type == 0x7b)
            return false;
        offset += size + data;
    }
    return false;
}

// RAR 5's variable-length numbers: seven bits a byte, lowest first.
struct VarReader {
    const std::string& bytes;
    size_t at = 0;
    bool ok = true;

    uint64_t next()
    {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= bytes.size())
                break;
            const auto byte = uint8_t(bytes[at++]);
            value |= uint64_t(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                return value;
        }
        ok = false;
        return 0;
    }
};

// RAR 5: an archive encryption header (type 4) encrypts every header after it; a file or service
// header's extra record of type 1 encrypts its data.
bool rar5Encrypted(const Reader& file)
{
    uint64_t offset = 8;
    for (int block = 0; block < maxBlocks; ++block) {
        // CRC, then the header's size in at most three bytes (headers stay under 2 MiB).
        const auto start = file.at(offset, 7);
        if (!start)
            return false;
        VarReader sizeReader{*start, 4};
        const auto size = sizeReader.next();
        if (!sizeReader.ok || size == 0 || size > (2u << 20))
            return false;
        const auto header = file.at(offset + sizeReader.at, size_t(size));
        if (!header)
            return false;
        VarReader fields{*header};
        const auto type = fields.next();
        const auto flags = fields.next();
        const auto extraSize = (flags & 1) ? fields.next() : 0;
        const auto dataSize = (flags & 2) ? fields.next() : 0;
        if (!fields.ok || extraSize > size)
            return false;
        if (type == 4)
            return true;
        if (type == 5)
            return false;
        if (type == 2 || type == 3) {
            const std::string extra = header->substr(size_t(size - extraSize));
            for (VarReader records{extra}; records.at < extra.size();) {
                const auto recordSize = records.next();
                const auto recordStart = records.at;
                const auto recordType = records.next();
                if (!records.ok)
                    break;
                if (recordType == 1)
                    return true;
                records.at = size_t(recordStart + recordSize);
            }
        }
        offset += sizeReader.at + size + dataSize;
    }
    return false;
}
}

bool encrypted(const fs::path& archive)
{
    if (const auto entries = ZipTools::entries(archive))
        return std::any_of(entries->begin(), entries->end(), [](const ZipTools::Entry& entry) {
            return entry.flags & 1;
        });
    const Reader file(archive);
    if (!file)
        return false;
    const auto signature = file.at(0, 8);
    if (!signature)
        return false;
    if (signature->starts_with(std::string("Rar!\x1a\x07\x01\x00", 8)))
        return rar5Encrypted(file);
    if (signature->starts_with(std::string("Rar!\x1a\x07\x00", 7)))
        return rar4Encrypted(file);
    return false;
}

void requireSeparateEntries(const fs::path& archive)
{
    auto entries = ZipTools::entries(archive);
    if (!entries)
        return;
    std::sort(entries->begin(), entries->end(), [](const ZipTools::Entry& a, const ZipTools::Entry& b) {
        return a.local < b.local;
    });
    // Each entry's local header (30 bytes at least) and data end before the next one starts.
    for (size_t i = 1; i < entries->size(); ++i) {
        const auto& before = (*entries)[i - 1];
        const auto gap = (*entries)[i].local - before.local;
        if (gap < 30 || before.packed > gap - 30)
            throw ConversionError::ffmpeg(ErrorCauses::archiveTooLarge);
    }
}
}
