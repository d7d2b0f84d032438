#include "documents/zip_tools.h"

#include "core/base/commands.h"
#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"

#include <QStringDecoder>

#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <system_error>
#include <unistd.h>

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
    std::string bytes(size, '\0');
    size_t done = 0;
    while (done < size) {
        const auto got = ::pread(fd, bytes.data() + done, size - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            FileSafety::throwErrno(path);
        if (got == 0)
            throw ConversionError::writeFailed();
        done += size_t(got);
    }
    return bytes;
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

// Info-ZIP's zip stores names as the bytes they are on disk and never says they are UTF-8, so
// other programs read them in an old DOS code page. Every name that is UTF-8 and not plain ASCII
// gets the language-encoding flag (bit 11) in its central and its local header; not a byte else
// changes.
void markUtf8Names(const fs::path& archive)
{
    const FileSafety::Fd fd(::open(archive.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd)
        FileSafety::throwErrno(archive);
    const auto size = uint64_t(::lseek(fd.get(), 0, SEEK_END));
    const auto tailSize = std::min<uint64_t>(size, 22 + 65535);
    const auto tail = readAt(fd.get(), size - tailSize, size_t(tailSize), archive);
    const auto end = tail.rfind("PK\x05\x06");
    if (end == std::string::npos)
        throw ConversionError::writeFailed();
    uint64_t count = little(tail, end + 10, 2);
    uint64_t directorySize = little(tail, end + 12, 4);
    uint64_t directoryAt = little(tail, end + 16, 4);
    if (count == 0xffff || directorySize == 0xffffffff || directoryAt == 0xffffffff) {
        // Zip64: the real figures are in the record the locator before the end record points to.
        if (end < 20 || little(tail, end - 20, 4) != 0x07064b50)
            throw ConversionError::writeFailed();
        const auto record = readAt(fd.get(), little(tail, end - 20 + 8, 8), 56, archive);
        count = little(record, 32, 8);
        directorySize = little(record, 40, 8);
        directoryAt = little(record, 48, 8);
    }
    const auto directory = readAt(fd.get(), directoryAt, size_t(directorySize), archive);
    size_t at = 0;
    for (uint64_t entry = 0; entry < count; ++entry) {
        if (little(directory, at, 4) != 0x02014b50)
            throw ConversionError::writeFailed();
        const auto flags = uint16_t(little(directory, at + 8, 2));
        const auto nameLength = size_t(little(directory, at + 28, 2));
        const auto extraLength = size_t(little(directory, at + 30, 2));
        const auto commentLength = size_t(little(directory, at + 32, 2));
        uint64_t local = little(directory, at + 42, 4);
        const auto name = std::string_view(directory).substr(at + 46, nameLength);
        if (local == 0xffffffff) {
            // The zip64 extra field holds, in order, the sizes that overflowed and then the offset.
            const auto extra = std::string_view(directory).substr(at + 46 + nameLength, extraLength);
            for (size_t field = 0; field + 4 <= extra.size();) {
                const auto id = little(extra, field, 2);
                const auto length = size_t(little(extra, field + 2, 2));
                if (id == 1) {
                    size_t skip = (little(directory, at + 24, 4) == 0xffffffff ? 8 : 0)
                        + (little(directory, at + 20, 4) == 0xffffffff ? 8 : 0);
                    local = little(extra, field + 4 + skip, 8);
                }
                field += 4 + length;
            }
        }
        if (!(flags & 0x800) && needsUtf8Flag(name)) {
            if (little(readAt(fd.get(), local, 4, archive), 0, 4) != 0x04034b50)
                throw ConversionError::writeFailed();
            const auto localFlags = uint16_t(little(readAt(fd.get(), local + 6, 2, archive), 0, 2));
            setFlagAt(fd.get(), local + 6, localFlags | 0x800, archive);
            setFlagAt(fd.get(), directoryAt + at + 8, flags | 0x800, archive);
        }
        at += 46 + nameLength + extraLength + commentLength;
    }
}
}

std::string literalName(const std::string& name) { return name.starts_with('-') ? "./" + name : name; }

void packNames(const fs::path& destination, const fs::path& folder, const std::vector<std::string>& names)
{
    // -MM: a name that is missing or unreadable fails the run instead of being left out.
    std::vector<std::string> arguments = {"-r", "-y", "-q", "-X", "-MM", destination.string()};
    for (const auto& name : names)
        arguments.push_back(literalName(name));
    arguments.insert(arguments.end(), {"-x", "*.DS_Store", "__MACOSX/*"});
    Commands::run(zip, arguments, {.cwd = folder, .memoryLimit = archiverMemory, .otherwise = cannotPack});
    markUtf8Names(folder / destination);
}

void packContents(const fs::path& destination, const fs::path& folder)
{
    Commands::run(zip, {"-X", "-r", "-q", destination.string(), "."},
        {.cwd = folder, .memoryLimit = archiverMemory, .otherwise = ConversionError::writeFailed().what()});
    markUtf8Names(folder / destination);
}

std::optional<std::string> readEntry(const fs::path& package, const std::string& entry)
{
    try {
        auto bytes
            = Commands::run(unzip, {"-p", package.string(), escapedPattern(entry)}, {.memoryLimit = archiverMemory});
        if (bytes.empty())
            return std::nullopt;
        return bytes;
    } catch (const ConversionError&) {
        return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

void unpack(const fs::path& package, const fs::path& target)
{
    Commands::run(unzip, {"-q", "-o", package.string(), "-d", target.string()},
        {.memoryLimit = archiverMemory, .otherwise = ErrorCauses::damaged});
}

}
