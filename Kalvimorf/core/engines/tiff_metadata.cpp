#include "core/engines/tiff_metadata.h"

#include "core/base/file_safety.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace TiffMetadata {

namespace {

constexpr uint16_t exifPointer = 0x8769, gpsPointer = 0x8825, interopPointer = 0xA005, iptcTag = 0x83BB;
// More than any camera writes; a count past it is damage.
constexpr uint32_t entriesCap = 1000;

// The first directory's tags that say who, what and when; the ones that describe the pixels
// (size, layout, compression, resolution, orientation) are the saver's own.
const std::set<uint16_t> descriptive = {
    0x010D,  // DocumentName
    0x010E,  // ImageDescription
    0x010F,  // Make
    0x0110,  // Model
    0x011D,  // PageName
    0x0131,  // Software
    0x0132,  // DateTime
    0x013B,  // Artist
    0x013C,  // HostComputer
    0x4746,  // Rating
    0x4749,  // RatingPercent
    0x8298,  // Copyright
    0x9C9B, 0x9C9C, 0x9C9D, 0x9C9E, 0x9C9F,  // Windows' title, comment, author, keywords, subject
};

// Exif tags about a JPEG's compressed data and its pixel size, wrong for the saver's pixels.
const std::set<uint16_t> aboutTheJpeg = {
    0x9101,  // ComponentsConfiguration
    0x9102,  // CompressedBitsPerPixel
    0xA002,  // PixelXDimension
    0xA003,  // PixelYDimension
};

// Bytes of one value of a type, and of the unit whose byte order a reader turns (a rational is
// two longs); 0 for a type TIFF does not define.
int typeBytes(uint16_t type)
{
    static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(sizes) ? sizes[type] : 0;
}
int unitBytes(uint16_t type) { return type == 5 || type == 10 ? 4 : typeBytes(type); }

struct Reader {
    std::string_view data;
    bool little = true;

    bool has(uint64_t offset, uint64_t bytes) const { return offset <= data.size() && data.size() - offset >= bytes; }
    uint32_t get(uint64_t offset, int bytes) const
    {
        if (!has(offset, uint64_t(bytes)))
            return 0;
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= uint32_t(static_cast<unsigned char>(data[offset + size_t(little ? i : bytes - 1 - i)])) << (8 * i);
        return value;
    }
};

// A TIFF structure's header: its byte order, and the offset of its first directory.
std::optional<std::pair<Reader, uint32_t>> header(std::string_view data)
{
    if (data.size() < 8
        || (data.substr(0, 4) != std::string_view("II*\0", 4) && data.substr(0, 4) != std::string_view("MM\0*", 4)))
        return std::nullopt;
    Reader reader{data, data[0] == 'I'};
    return std::pair(reader, reader.get(4, 4));
}

struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::string value;  // in the output's byte order
};

void put(std::string& out, uint32_t value, int bytes, bool little)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * (little ? i : bytes - 1 - i))) & 0xff));
}

// A directory's entries with their values, turned into the output's byte order; entries of
// unknown types or with values outside the block are left out.
std::vector<Entry> readEntries(const Reader& in, uint32_t offset, bool little)
{
    std::vector<Entry> entries;
    const uint32_t count = in.get(offset, 2);
    if (!in.has(offset, 2) || count > entriesCap)
        return entries;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t at = uint64_t(offset) + 2 + uint64_t(i) * 12;
        if (!in.has(at, 12))
            break;
        Entry entry{uint16_t(in.get(at, 2)), uint16_t(in.get(at + 2, 2)), in.get(at + 4, 4), {}};
        const int size = typeBytes(entry.type);
        const uint64_t bytes = uint64_t(entry.count) * uint64_t(size);
        const uint64_t valueAt = bytes <= 4 ? at + 8 : in.get(at + 8, 4);
        if (size == 0 || bytes == 0 || !in.has(valueAt, bytes))
            continue;
        entry.value = in.data.substr(size_t(valueAt), size_t(bytes));
        // Each unit (a double is one of eight bytes) turned when the byte orders differ.
        const auto unit = size_t(unitBytes(entry.type));
        if (in.little != little) {
            for (size_t b = 0; b < entry.value.size(); b += unit)
                std::reverse(entry.value.begin() + ptrdiff_t(b), entry.value.begin() + ptrdiff_t(b + unit));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

// What is appended to the file: its offsets count from `base`, where it will stand.
struct Tail {
    uint32_t base = 0;
    bool little = true;
    std::string bytes;

    uint64_t at() const { return uint64_t(base) + bytes.size(); }
    void align()
    {
        if (at() % 2)
            bytes.push_back('\0');
    }

    // Writes a directory of `entries` (plus `raw`, entries already in the file's order whose
    // values stay where they are) and returns its offset.
    uint32_t directory(std::vector<Entry> entries, std::vector<std::string> raw = {}, uint32_t next = 0)
    {
        align();
        const auto start = uint32_t(at());
        const size_t count = entries.size() + raw.size();
        std::vector<std::pair<uint16_t, std::string>> records;
        std::string values;
        const uint64_t valuesAt = at() + 2 + count * 12 + 4;
        for (auto& record : raw) {
            const Reader r{record, little};
            records.emplace_back(uint16_t(r.get(0, 2)), std::move(record));
        }
        for (const auto& entry : entries) {
            std::string record;
            put(record, entry.tag, 2, little);
            put(record, entry.type, 2, little);
            put(record, entry.count, 4, little);
            if (entry.value.size() <= 4) {
                record += entry.value;
                record.append(4 - entry.value.size(), '\0');
            } else {
                if (values.size() % 2)
                    values.push_back('\0');
                put(record, uint32_t(valuesAt + values.size()), 4, little);
                values += entry.value;
            }
            records.emplace_back(entry.tag, std::move(record));
        }
        // Readers look tags up in ascending order.
        std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) {
            return a.first < b.first;
        });
        put(bytes, uint32_t(count), 2, little);
        for (const auto& record : records)
            bytes += record.second;
        put(bytes, next, 4, little);
        bytes += values;
        return start;
    }

    // Copies the directory at `offset` of `in` and those it points to (Exif to its interoperability
    // directory); nothing when it holds no entry.
    std::optional<uint32_t> copy(const Reader& in, uint32_t offset, bool followInterop)
    {
        std::vector<Entry> entries;
        for (auto& entry : readEntries(in, offset, little)) {
            if (aboutTheJpeg.count(entry.tag))
                continue;
            if (entry.tag != interopPointer) {
                entries.push_back(std::move(entry));
            } else if (followInterop && entry.value.size() == 4) {
                if (const auto target = copy(in, Reader{entry.value, little}.get(0, 4), false))
                    entries.push_back(pointer(interopPointer, *target));
            }
        }
        if (entries.empty())
            return std::nullopt;
        return directory(std::move(entries));
    }

    Entry pointer(uint16_t tag, uint32_t offset) const
    {
        Entry entry{tag, 4, 1, {}};
        put(entry.value, offset, 4, little);
        return entry;
    }
};

void readAll(int fd, std::string& into, uint64_t offset)
{
    size_t done = 0;
    while (done < into.size()) {
        const auto got = ::pread(fd, into.data() + done, into.size() - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw std::system_error(errno, std::generic_category());
        if (got == 0) {
            into.resize(done);
            return;
        }
        done += size_t(got);
    }
}

// Writes at `offset`: the saver is done with the file, so where its offset is left matters to none.
void writeAt(int fd, std::string_view bytes, uint64_t offset)
{
    if (::lseek(fd, off_t(offset), SEEK_SET) < 0)
        throw std::system_error(errno, std::generic_category());
    FileSafety::writeAll(fd, bytes);
}

}

std::string iptcRecords(std::string_view block)
{
    if (!block.empty() && block.front() == '\x1c')
        return std::string(block);
    const std::string_view signature("Photoshop 3.0\0", 14);
    if (block.substr(0, signature.size()) != signature)
        return {};
    // Resources: "8BIM", a 16-bit id, a name padded to even length with its length byte, a
    // 32-bit size and the data padded to even length, all big-endian. IPTC is id 0x0404.
    const Reader in{block, false};
    uint64_t at = signature.size();
    while (in.has(at, 12) && block.substr(size_t(at), 4) == "8BIM") {
        const uint32_t id = in.get(at + 4, 2);
        const uint64_t name = uint64_t(static_cast<unsigned char>(block[size_t(at) + 6]));
        const uint64_t sizeAt = at + 6 + ((name + 2) & ~uint64_t(1));
        const uint32_t size = in.get(sizeAt, 4);
        if (!in.has(sizeAt, 4) || !in.has(sizeAt + 4, size))
            return {};
        if (id == 0x0404)
            return size > 0 && block[size_t(sizeAt) + 4] == '\x1c' ? std::string(block.substr(size_t(sizeAt) + 4, size))
                                                                   : std::string();
        at = sizeAt + 4 + ((uint64_t(size) + 1) & ~uint64_t(1));
    }
    return {};
}

std::string iptcAsJpegCarriesIt(std::string block)
{
    if (block.empty() || block.front() != '\x1c')
        return block;
    std::string resources("Photoshop 3.0\0"
                          "8BIM\x04\x04\0\0",
        22);
    put(resources, uint32_t(block.size()), 4, false);
    resources += block;
    if (block.size() % 2)
        resources.push_back('\0');
    return resources;
}

std::optional<std::string> exifOf(const std::filesystem::path& file)
{
    FileSafety::Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status { };
    if (!fd || ::fstat(fd.get(), &status) != 0 || status.st_size < 8)
        return std::nullopt;
    // Mapped, not read: the directories may lie anywhere in a file of gigabytes.
    const auto size = size_t(status.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (mapped == MAP_FAILED)
        return std::nullopt;
    const std::unique_ptr<void, std::function<void(void*)>> unmap(mapped, [size](void* at) {
        ::munmap(at, size);
    });
    const auto source = header(std::string_view(static_cast<const char*>(mapped), size));
    if (!source)
        return std::nullopt;
    const auto& [in, first] = *source;
    Tail tail{8, in.little, {}};
    std::vector<Entry> kept;
    std::set<uint16_t> seen;
    for (auto& entry : readEntries(in, first, in.little)) {
        if (!seen.insert(entry.tag).second)
            continue;
        if (entry.tag == exifPointer || entry.tag == gpsPointer) {
            const uint32_t at = entry.value.size() == 4 ? Reader{entry.value, in.little}.get(0, 4) : 0;
            if (const auto target = at ? tail.copy(in, at, entry.tag == exifPointer) : std::nullopt)
                kept.push_back(tail.pointer(entry.tag, *target));
        } else if (descriptive.count(entry.tag)) {
            kept.push_back(std::move(entry));
        }
    }
    if (kept.empty())
        return std::nullopt;
    const uint32_t ifd0 = tail.directory(std::move(kept));
    std::string block("Exif\0\0", 6);
    block += in.little ? std::string("II*\0", 4) : std::string("MM\0*", 4);
    put(block, ifd0, 4, in.little);
    return block + tail.bytes;
}

void add(int fd, const std::optional<std::string>& exif, const std::optional<std::string>& iptc)
{
    std::string head(8, '\0');
    readAll(fd, head, 0);
    const auto file = header(head);
    if (!file)
        return;
    const auto& [fileReader, firstAt] = *file;
    const bool little = fileReader.little;
    struct stat status { };
    if (::fstat(fd, &status) != 0)
        throw std::system_error(errno, std::generic_category());
    const auto size = uint64_t(status.st_size);

    // The saver's own first directory: its entries stay as they are, values where they are.
    std::string countBytes(2, '\0');
    readAll(fd, countBytes, firstAt);
    const uint32_t count = Reader{countBytes, little}.get(0, 2);
    if (countBytes.size() < 2 || count > entriesCap)
        return;
    std::string first(size_t(count) * 12 + 4, '\0');
    readAll(fd, first, uint64_t(firstAt) + 2);
    if (first.size() < size_t(count) * 12 + 4)
        return;
    const Reader saved{first, little};
    std::set<uint16_t> present;
    for (uint32_t i = 0; i < count; ++i)
        present.insert(uint16_t(saved.get(uint64_t(i) * 12, 2)));

    if (size >= UINT32_MAX)
        return;
    Tail tail{uint32_t(size), little, std::string(size % 2, '\0')};
    std::vector<Entry> added;
    if (exif) {
        std::string_view block = *exif;
        if (block.substr(0, 6) == std::string_view("Exif\0\0", 6))
            block.remove_prefix(6);
        if (const auto source = header(block)) {
            const auto& [in, sourceFirst] = *source;
            for (auto& entry : readEntries(in, sourceFirst, little)) {
                // A tag twice (a damaged block) goes in once.
                if (!present.insert(entry.tag).second)
                    continue;
                if (entry.tag == exifPointer || entry.tag == gpsPointer) {
                    const uint32_t at = entry.value.size() == 4 ? Reader{entry.value, little}.get(0, 4) : 0;
                    if (const auto target = at ? tail.copy(in, at, entry.tag == exifPointer) : std::nullopt)
                        added.push_back(tail.pointer(entry.tag, *target));
                } else if (descriptive.count(entry.tag)) {
                    added.push_back(std::move(entry));
                }
            }
        }
    }
    if (iptc && !present.count(iptcTag)) {
        auto records = iptcRecords(*iptc);
        if (!records.empty()) {
            // Stored as longs, as image editors do; the records are read as bytes all the same.
            records.append((4 - records.size() % 4) % 4, '\0');
            added.push_back(Entry{iptcTag, 4, uint32_t(records.size() / 4), std::move(records)});
        }
    }
    if (added.empty())
        return;
    std::vector<std::string> raw;
    for (uint32_t i = 0; i < count; ++i)
        raw.push_back(first.substr(size_t(i) * 12, 12));
    const uint32_t newFirst = tail.directory(std::move(added), std::move(raw), saved.get(uint64_t(count) * 12, 4));
    if (tail.at() > UINT32_MAX)
        return;  // past what a classic TIFF's offsets reach: the pixels matter more
    writeAt(fd, tail.bytes, size);
    std::string pointer;
    put(pointer, newFirst, 4, little);
    writeAt(fd, pointer, 4);
}

}
