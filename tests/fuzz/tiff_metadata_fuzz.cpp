#include "core/engines/tiff_metadata.h"
#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A 2 × 2 grey TIFF as a saver leaves it: the pixels, then its one directory.
std::string tiff()
{
    std::string file("II*\0\x0c\0\0\0\x10\x20\x30\x40", 12);
    const unsigned short entries[][4]
        = {{256, 3, 1, 2}, {257, 3, 1, 2}, {258, 3, 1, 8}, {262, 3, 1, 1}, {273, 4, 1, 8}, {279, 4, 1, 4}};
    file += char(std::size(entries));
    file += '\0';
    for (const auto& entry : entries) {
        for (int i = 0; i < 4; ++i) {
            file += char(entry[i] & 0xff);
            file += char(entry[i] >> 8);
            if (i >= 2)
                file.append(2, '\0');
        }
    }
    return file + std::string(4, '\0');
}

}

// Any Exif and IPTC blocks leave the saver's bytes as they were but the header's pointer, and
// that pointer inside the file; any file read for its Exif gives a block or nothing.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto input = Fuzz::text(data, size);
    if (input.size() < 2)
        return 0;
    const size_t split = std::min(input.size() - 2, size_t(uint8_t(input[0])) | size_t(uint8_t(input[1])) << 8);
    const std::string exif(input.substr(2, split)), iptc(input.substr(2 + split));
    static const std::string saved = tiff();
    const int fd = memfd_create("tiff", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, saved.data(), saved.size()) != ssize_t(saved.size()))
        std::abort();
    TiffMetadata::add(fd, exif, iptc);
    std::string after(size_t(::lseek(fd, 0, SEEK_END)), '\0');
    if (::pread(fd, after.data(), after.size(), 0) != ssize_t(after.size()))
        std::abort();
    ::close(fd);
    if (after.substr(0, 4) != saved.substr(0, 4) || after.substr(8, saved.size() - 8) != saved.substr(8))
        std::abort();
    const uint32_t first = uint32_t(uint8_t(after[4])) | uint32_t(uint8_t(after[5])) << 8
        | uint32_t(uint8_t(after[6])) << 16 | uint32_t(uint8_t(after[7])) << 24;
    if (first % 2 || first + 6 > after.size())
        std::abort();
    // Bare records wrapped as a JPEG carries them unwrap to themselves.
    if (!iptc.empty() && iptc.front() == '\x1c'
        && TiffMetadata::iptcRecords(TiffMetadata::iptcAsJpegCarriesIt(iptc)) != iptc)
        std::abort();
    // The whole input as a TIFF whose Exif is read, then written into another.
    const auto path = Fuzz::scratch("in.tiff");
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();
    if (const auto read = TiffMetadata::exifOf(path); read && read->substr(0, 6) != std::string("Exif\0\0", 6))
        std::abort();
    return 0;
}
