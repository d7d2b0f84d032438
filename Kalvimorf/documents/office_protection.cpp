#include "documents/office_protection.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "documents/office_xml.h"
#include "documents/zip_tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace OfficeProtection {

namespace {

constexpr std::string_view signature = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr uint32_t endOfChain = 0xFFFFFFFE;
// Sectors a walk follows at most: a directory of tens of thousands of entries, far beyond any
// office file's dozen; a crafted chain that loops or runs on ends there.
constexpr int mostSectors = 4096;
// Reads a whole walk makes at most, the allocation table's own chain included: a crafted table
// reached through thousands of links for each of thousands of sectors ends here too.
constexpr int mostReads = 1 << 16;

uint32_t little32(std::string_view bytes, size_t at)
{
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 | uint32_t(uint8_t(bytes[at + 2])) << 16
        | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

// The directory of a compound file, read sector by sector through its allocation table.
class CompoundFile {
public:
    explicit CompoundFile(const std::filesystem::path& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
        struct stat status { };
        if (!fd_ || ::fstat(fd_.get(), &status) != 0 || !S_ISREG(status.st_mode))
            return;
        header_ = read(0, 512);
        if (header_.size() != 512 || !header_.starts_with(signature))
            return;
        const unsigned shift = uint8_t(header_[0x1E]) | uint8_t(header_[0x1F]) << 8;
        if (shift != 9 && shift != 12)
            return;
        sectorSize_ = size_t(1) << shift;
        valid_ = true;
    }

    // Whether a stream of that name (ASCII) stands anywhere in the directory.
    bool hasStream(std::string_view name)
    {
        if (!valid_)
            return false;
        std::set<uint32_t> seen;
        for (uint32_t sector = little32(header_, 0x30); sector != endOfChain; sector = next(sector)) {
            if (!seen.insert(sector).second || seen.size() > mostSectors)
                return false;
            const std::string entries = read(offsetOf(sector), sectorSize_);
            if (entries.size() != sectorSize_)
                return false;
            for (size_t at = 0; at + 128 <= entries.size(); at += 128)
                if (isStreamNamed(std::string_view(entries).substr(at, 128), name))
                    return true;
        }
        return false;
    }

private:
    FileSafety::Fd fd_;
    std::string header_;
    size_t sectorSize_ = 512;
    bool valid_ = false;
    mutable int reads_ = 0;

    std::string read(uint64_t offset, size_t size) const
    {
        if (++reads_ > mostReads)
            return {};
        return FileSafety::readUpTo(fd_.get(), size, off_t(offset)).value_or(std::string());
    }
    uint64_t offsetOf(uint32_t sector) const { return (uint64_t(sector) + 1) * sectorSize_; }

    // The sector of the allocation table at that position: the first 109 in the header, the
    // rest in a chain of sectors whose last entry names the next.
    std::optional<uint32_t> tableSector(uint32_t index) const
    {
        if (index < 109)
            return little32(header_, 0x4C + index * 4);
        index -= 109;
        const uint32_t perSector = uint32_t(sectorSize_ / 4) - 1;
        uint32_t sector = little32(header_, 0x44);
        for (int hops = 0; index >= perSector; ++hops, index -= perSector) {
            if (hops > mostSectors)
                return std::nullopt;
            const std::string link = read(offsetOf(sector) + perSector * 4, 4);
            if (link.size() != 4)
                return std::nullopt;
            sector = little32(link, 0);
        }
        const std::string entry = read(offsetOf(sector) + index * 4, 4);
        return entry.size() == 4 ? std::optional(little32(entry, 0)) : std::nullopt;
    }

    uint32_t next(uint32_t sector) const
    {
        const uint32_t perSector = uint32_t(sectorSize_ / 4);
        const auto table = tableSector(sector / perSector);
        if (!table)
            return endOfChain;
        const std::string entry = read(offsetOf(*table) + (sector % perSector) * 4, 4);
        return entry.size() == 4 ? little32(entry, 0) : endOfChain;
    }

    // An entry: its UTF-16 name, the name's length in bytes with its terminator at 64, its kind
    // at 66 (2: a stream).
    static bool isStreamNamed(std::string_view entry, std::string_view name)
    {
        const size_t length = uint8_t(entry[64]) | uint8_t(entry[65]) << 8;
        if (uint8_t(entry[66]) != 2 || length != (name.size() + 1) * 2)
            return false;
        for (size_t i = 0; i < name.size(); ++i)
            if (entry[i * 2] != name[i] || entry[i * 2 + 1] != 0)
                return false;
        return true;
    }
};

}

bool isEncryptedPackage(const std::filesystem::path& path)
{
    if (!OfficeXML::head(path, signature.size()).starts_with(signature))
        return false;
    return CompoundFile(path).hasStream("EncryptionInfo");
}

bool isProtectedOpenDocument(const std::filesystem::path& path)
{
    if (!OfficeXML::isZip(path))
        return false;
    const auto manifest = ZipTools::readEntry(path, "META-INF/manifest.xml");
    return manifest && manifest->find("encryption-data") != std::string::npos;
}

void requireUnlocked(const std::filesystem::path& path)
{
    if (isEncryptedPackage(path) || isProtectedOpenDocument(path))
        throw ConversionError::because(ErrorCauses::password);
}

}
