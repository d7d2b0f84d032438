#include "documents/zip_tools.h"

#include "core/base/commands.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/process.h"

#include <QStringDecoder>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <zlib.h>

namespace ZipTools {

namespace {
const std::string zip = "/usr/bin/zip";
const std::string unzip = "/usr/bin/unzip";

// unzip reads the entry argument as a wildcard pattern; package entries such as
// "[Content_Types].xml" must match only themselves.
std::string escapedPattern(const std::string& entry)
{
    std::string out;
    out.reserve(entry.size());
    for (char c : entry) {
        if (c == '[' || c == ']' || c == '*' || c == '?' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

uint64_t little(std::string_view bytes, size_t at, size_t width)
{
    if (at + width > bytes.size())
        throw ConversionError::writeFailed();
    uint64_t value = 0;
    for (size_t i = width; i-- > 0;)
        value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

std::string readAt(int fd, uint64_t offset, size_t size, const fs::path& path)
{
    auto bytes = FileSafety::readUpTo(fd, size, off_t(offset));
    if (!bytes)
        FileSafety::throwErrno(path);
    if (bytes->size() != size)
        throw ConversionError::writeFailed();
    return std::move(*bytes);
}

void setFlagAt(int fd, uint64_t offset, uint16_t flags, const fs::path& path)
{
    const char bytes[2] = {char(flags & 0xff), char(flags >> 8)};
    if (::pwrite(fd, bytes, 2, off_t(offset)) != 2)
        FileSafety::throwErrno(path);
}

bool needsUtf8Flag(std::string_view name)
{
    bool ascii = true;
    for (unsigned char c : name)
        ascii = ascii && c < 0x80;
    if (ascii)
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder(QByteArrayView(name.data(), qsizetype(name.size())));
    return !decoder.hasError();
}

// One file header of a zip's central directory, as the directory declares it.
struct Listed {
    std::string_view name;
    uint16_t flags = 0;
    uint64_t packed = 0;
    uint64_t size = 0;  // unpacked
    uint64_t local = 0;  // where its local header lies
    size_t at = 0;  // where its header lies in the directory
    std::string_view unicodeName;
    uint32_t mode = 0;
};

// A zip's central directory, read from its end record (and, for a zip64, the record the
// locator before it points to). Throws ConversionError::writeFailed when the bytes are no zip.
struct Directory {
    explicit Directory(int fd, const fs::path& path)
    {
        const auto size = uint64_t(::lseek(fd, 0, SEEK_END));
        const auto tailSize = std::min<uint64_t>(size, 22 + 65535);
        const auto tail = readAt(fd, size - tailSize, size_t(tailSize), path);
        const auto end = tail.rfind("PK\x05\x06");
        if (end == std::string::npos)
            throw ConversionError::writeFailed();
        count = little(tail, end + 10, 2);
        uint64_t directorySize = little(tail, end + 12, 4);
        at = little(tail, end + 16, 4);
        if (count == 0xffff || directorySize == 0xffffffff || at == 0xffffffff) {
            // Zip64: the real figures are in the record the locator before the end record points to.
            if (end < 20 || little(tail, end - 20, 4) != 0x07064b50)
                throw ConversionError::writeFailed();
            const auto record = readAt(fd, little(tail, end - 20 + 8, 8), 56, path);
            count = little(record, 32, 8);
            directorySize = little(record, 40, 8);
            at = little(record, 48, 8);
        }
        if (directorySize > size)
            throw ConversionError::writeFailed();
        bytes = readAt(fd, at, size_t(directorySize), path);
    }

    template <typename Visit> void each(Visit&& visit) const
    {
        size_t offset = 0;
        for (uint64_t entry = 0; entry < count; ++entry) {
            if (little(bytes, offset, 4) != 0x02014b50)
                throw ConversionError::writeFailed();
            Listed listed;
            listed.at = offset;
            listed.flags = uint16_t(little(bytes, offset + 8, 2));
            listed.packed = little(bytes, offset + 20, 4);
            listed.size = little(bytes, offset + 24, 4);
            const auto nameLength = size_t(little(bytes, offset + 28, 2));
            const auto extraLength = size_t(little(bytes, offset + 30, 2));
            const auto commentLength = size_t(little(bytes, offset + 32, 2));
            listed.local = little(bytes, offset + 42, 4);
            // The upper half of the external attributes is the file's mode when it was made on Unix.
            if (little(bytes, offset + 5, 1) == 3)
                listed.mode = uint32_t(little(bytes, offset + 38, 4) >> 16);
            if (offset + 46 + nameLength + extraLength > bytes.size())
                throw ConversionError::writeFailed();
            listed.name = std::string_view(bytes).substr(offset + 46, nameLength);
            // The zip64 extra field holds, in order, the sizes that overflowed and then the offset.
            const auto extra = std::string_view(bytes).substr(offset + 46 + nameLength, extraLength);
            for (size_t field = 0; field + 4 <= extra.size();) {
                const auto id = little(extra, field, 2);
                const auto length = size_t(little(extra, field + 2, 2));
                if (id == 1) {
                    size_t next = field + 4;
                    if (listed.size == 0xffffffff) {
                        listed.size = little(extra, next, 8);
                        next += 8;
                    }
                    if (listed.packed == 0xffffffff) {
                        listed.packed = little(extra, next, 8);
                        next += 8;
                    }
                    if (listed.local == 0xffffffff)
                        listed.local = little(extra, next, 8);
                }
                // Info-ZIP's Unicode Path field: version 1, the CRC-32 of the name it stands for,
                // then that name in UTF-8. A CRC that differs says the name was changed since.
                if (id == 0x7075 && length > 5 && field + 4 + length <= extra.size() && extra[field + 4] == 1
                    && little(extra, field + 5, 4)
                        == ::crc32(0, reinterpret_cast<const Bytef*>(listed.name.data()), uInt(listed.name.size())))
                    listed.unicodeName = extra.substr(field + 9, length - 5);
                field += 4 + length;
            }
            visit(listed);
            offset += 46 + nameLength + extraLength + commentLength;
        }
    }

    uint64_t count = 0;
    uint64_t at = 0;
    std::string bytes;
};

// Info-ZIP's zip stores names as the bytes they are on disk and never says they are UTF-8, so
// other programs read them in an old DOS code page. Every name that is UTF-8 and not plain ASCII
// gets the language-encoding flag (bit 11) in its central and its local header; not a byte else
// changes.
void markUtf8Names(const fs::path& archive)
{
    const FileSafety::Fd fd(::open(archive.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd)
        FileSafety::throwErrno(archive);
    const Directory directory(fd.get(), archive);
    directory.each([&](const Listed& entry) {
        if (!(entry.flags & 0x800) && needsUtf8Flag(entry.name)) {
            if (little(readAt(fd.get(), entry.local, 4, archive), 0, 4) != 0x04034b50)
                throw ConversionError::writeFailed();
            const auto localFlags = uint16_t(little(readAt(fd.get(), entry.local + 6, 2, archive), 0, 2));
            setFlagAt(fd.get(), entry.local + 6, localFlags | 0x800, archive);
            setFlagAt(fd.get(), directory.at + entry.at + 8, entry.flags | 0x800, archive);
        }
    });
}

[[noreturn]] void tooLarge() { throw ConversionError::because(ErrorCauses::archiveTooLarge); }


bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
    });
}

// The entry as the package names it: the exact name, else the first that differs from it only
// in letter case. Its size as declared, when the package has a readable directory.
struct Found {
    std::string name;
    std::optional<uint64_t> size;
};
std::optional<Found> find(const fs::path& package, const std::string& entry)
{
    const auto all = entries(package);
    if (!all)
        return Found{entry, std::nullopt};
    for (const auto& listedEntry : *all)
        if (listedEntry.name == entry)
            return Found{listedEntry.name, listedEntry.size};
    for (const auto& listedEntry : *all)
        if (sameIgnoringCase(listedEntry.name, entry))
            return Found{listedEntry.name, listedEntry.size};
    return std::nullopt;
}

// Refuses a package whose directory declares more unpacked bytes in all than a document holds.
void requireDeclaredSizes(const fs::path& package)
{
    uint64_t sum = 0;
    for (const auto& entry : entries(package).value_or(std::vector<Entry>{}))
        sum += std::min<uint64_t>(entry.size, unpackedLimit + 1);
    if (sum > unpackedLimit)
        tooLarge();
}

Process::Command entryCommand(const fs::path& package, const std::string& name)
{
    Process::Command command{unzip, {"-p", package.string(), escapedPattern(name)}};
    command.memoryLimit = archiverMemory();
    return command;
}
}

std::optional<std::vector<Entry>> entries(const fs::path& archive)
{
    const FileSafety::Fd fd(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    std::vector<Entry> listed;
    try {
        Directory(fd.get(), archive).each([&listed](const Listed& entry) {
            listed.push_back({std::string(entry.name), entry.flags, entry.packed, entry.size, entry.local,
                std::string(entry.unicodeName), entry.mode});
        });
    } catch (const ConversionError&) {
        return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    return listed;
}

std::string literalName(const std::string& name) { return name.starts_with('-') ? "./" + name : name; }

void packNames(const fs::path& destination, const fs::path& folder, const std::vector<std::string>& names)
{
    // -MM: a name that is missing or unreadable fails the run instead of being left out.
    std::vector<std::string> arguments = {"-r", "-y", "-q", "-X", "-MM", destination.string()};
    for (const auto& name : names)
        arguments.push_back(literalName(name));
    arguments.insert(arguments.end(), {"-x", "*.DS_Store", "__MACOSX/*"});
    Commands::run(zip, arguments, {.cwd = folder, .memoryLimit = archiverMemory(), .otherwise = cannotPack});
    markUtf8Names(folder / destination);
}

void packContents(const fs::path& destination, const fs::path& folder)
{
    Commands::run(zip, {"-X", "-r", "-q", destination.string(), "."},
        {.cwd = folder, .memoryLimit = archiverMemory(), .otherwise = ConversionError::writeFailed().what()});
    markUtf8Names(folder / destination);
}

bool contains(const fs::path& package, const std::string& entry)
{
    if (!entries(package))
        return readEntry(package, entry).has_value();
    return find(package, entry).has_value();
}

std::optional<std::string> readEntry(const fs::path& package, const std::string& entry)
{
    const auto found = find(package, entry);
    if (!found)
        return std::nullopt;
    if (found->size && *found->size > unpackedLimit)
        tooLarge();
    auto command = entryCommand(package, found->name);
    // The directory may understate what an entry unpacks to; only the bytes count.
    command.outputLimit = size_t(unpackedLimit);
    Process::Result result;
    try {
        result = Process::run(command);
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    if (result.outputCut)
        tooLarge();
    if (result.exitCode != 0 || result.out.empty())
        return std::nullopt;
    return std::move(result.out);
}

bool streamEntry(const fs::path& package, const std::string& entry, const std::function<void(std::string_view)>& sink)
{
    const auto found = find(package, entry);
    if (!found)
        return false;
    bool any = false;
    Process::Result result;
    try {
        result = Process::run(entryCommand(package, found->name), [&](std::string_view chunk) {
            any = true;
            sink(chunk);
        });
    } catch (const std::system_error&) {
        return false;
    }
    return any && result.exitCode == 0;
}

void unpack(const fs::path& package, const fs::path& target)
{
    requireDeclaredSizes(package);
    Commands::run(unzip, {"-q", "-o", package.string(), "-d", target.string()},
        {.memoryLimit = archiverMemory(), .fileSizeLimit = unpackedLimit, .otherwise = ErrorCauses::damaged});
}

}
