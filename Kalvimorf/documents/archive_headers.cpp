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
// its data; flags 0x01 and 0x02 say its data began in the part before or goes on in the next, and
// bits 5 to 7 give its window (64 KiB times a power of two; all set for a folder).
RarFacts rar4Facts(const Reader& file)
{
    RarFacts facts;
    uint64_t offset = 7;
    for (int block = 0; block < maxBlocks; ++block) {
        const auto head = file.at(offset, 15);
        if (!head)
            break;
        const auto type = uint8_t((*head)[2]);
        const auto flags = little(*head, 3, 2);
        const auto size = little(*head, 5, 2);
        if (size < 7)
            break;
        if ((type == 0x73 && (flags & 0x80)) || (type == 0x74 && (flags & 0x04)))
            facts.encrypted = true;
        if (type == 0x73 && (flags & 0x80))
            break;
        uint64_t data = (type == 0x74 || (flags & 0x8000)) ? little(*head, 7, 4) : 0;
        if (type == 0x74) {
            uint64_t unpacked = little(*head, 11, 4);
            if (flags & 0x100) {
                const auto high = file.at(offset + 32, 8);
                if (!high)
                    break;
                data |= little(*high, 0, 4) << 32;
                unpacked |= little(*high, 4, 4) << 32;
            }
            facts.continuesEarlier |= (flags & 0x01) != 0;
            facts.continuesLater |= (flags & 0x02) != 0;
            if (const auto window = (flags >> 5) & 7; window != 7)
                facts.dictionary = std::max<unsigned long long>(facts.dictionary, 0x10000ULL << window);
            facts.unpacked += unpacked;
        }
        if (type == 0x7b)
            break;
        offset += size + data;
    }
    return facts;
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
    void skip(size_t count)
    {
        ok = ok && at + count <= bytes.size();
        at += count;
    }
};

// RAR 5: an archive encryption header (type 4) encrypts every header after it; a file or service
// header's extra record of type 1 encrypts its data. A file header's flags 0x08 and 0x10 say its
// data began in the part before or goes on in the next; its compression information gives the
// window, 128 KiB times a power of two.
RarFacts rar5Facts(const Reader& file)
{
    RarFacts facts;
    uint64_t offset = 8;
    for (int block = 0; block < maxBlocks; ++block) {
        // CRC, then the header's size in at most three bytes (headers stay under 2 MiB).
        const auto start = file.at(offset, 7);
        if (!start)
            break;
        VarReader sizeReader{*start, 4};
        const auto size = sizeReader.next();
        if (!sizeReader.ok || size == 0 || size > (2u << 20))
            break;
        const auto header = file.at(offset + sizeReader.at, size_t(size));
        if (!header)
            break;
        VarReader fields{*header};
        const auto type = fields.next();
        const auto flags = fields.next();
        const auto extraSize = (flags & 1) ? fields.next() : 0;
        const auto dataSize = (flags & 2) ? fields.next() : 0;
        if (!fields.ok || extraSize > size)
            break;
        if (type == 4) {
            facts.encrypted = true;
            break;
        }
        if (type == 5)
            break;
        if (type == 2) {
            facts.continuesEarlier |= (flags & 0x08) != 0;
            facts.continuesLater |= (flags & 0x10) != 0;
            const auto fileFlags = fields.next();
            const auto unpacked = fields.next();
            fields.next();  // attributes
            fields.skip((fileFlags & 2 ? 4 : 0) + (fileFlags & 4 ? 4 : 0));
            const auto compression = fields.next();
            if (fields.ok) {
                if (!(fileFlags & 8))
                    facts.unpacked += unpacked;
                if (!(fileFlags & 1))
                    facts.dictionary
                        = std::max<unsigned long long>(facts.dictionary, 0x20000ULL << ((compression >> 10) & 0x1f));
            }
        }
        if (type == 2 || type == 3) {
            const std::string extra = header->substr(size_t(size - extraSize));
            for (VarReader records{extra}; records.at < extra.size();) {
                const auto recordSize = records.next();
                const auto recordStart = records.at;
                const auto recordType = records.next();
                if (!records.ok)
                    break;
                if (recordType == 1)
                    facts.encrypted = true;
                records.at = size_t(recordStart + recordSize);
            }
        }
        offset += sizeReader.at + size + dataSize;
    }
    return facts;
}
}

std::optional<RarFacts> rarFacts(const fs::path& archive)
{
    const Reader file(archive);
    const auto signature = file ? file.at(0, 8) : std::nullopt;
    if (!signature)
        return std::nullopt;
    if (signature->starts_with(std::string("Rar!\x1a\x07\x01\x00", 8)))
        return rar5Facts(file);
    if (signature->starts_with(std::string("Rar!\x1a\x07\x00", 7)))
        return rar4Facts(file);
    return std::nullopt;
}

bool encrypted(const fs::path& archive)
{
    if (const auto entries = ZipTools::entries(archive))
        return std::any_of(entries->begin(), entries->end(), [](const ZipTools::Entry& entry) {
            return entry.flags & 1;
        });
    const auto facts = rarFacts(archive);
    return facts && facts->encrypted;
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
            throw ConversionError::because(ErrorCauses::archiveTooLarge);
    }
}
}
