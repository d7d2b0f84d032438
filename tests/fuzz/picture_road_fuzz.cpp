#include "core/base/conversion_error.h"
#include "core/engines/image_engine.h"
#include "core/engines/image_library.h"
#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// Any bytes under a photo format's name go the whole road of a conversion (read upright, written as a
// BMP, the format that passes every pixel on as it is) and end the same way every time: two runs
// give the same file, or both the same refusal. The first byte picks the name; pictures that say
// they are larger than a few megapixels are left out, as their size alone is what the engine
// bounds.
namespace {

std::string converted(const fs::path& source, std::string& refusal)
{
    FileSafety::NewFile file(source.parent_path());
    try {
        const auto picture = ImageEngine::loadOriented(source);
        ImageEngine::requireIntact([&] {
            ImageEngine::write(picture.image, picture.props, "bmp", file, 0.9);
        });
    } catch (const ConversionError& error) {
        refusal = std::to_string(int(error.kind())) + error.what();
        return {};
    }
    std::string bytes;
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const auto got = ::pread(file.fd(), buffer, sizeof buffer, at);
        if (got <= 0)
            break;
        bytes.append(buffer, size_t(got));
        at += got;
    }
    return bytes;
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = ImageLibrary::start();
    if (!started || size < 1)
        return 0;
    static const char* const names[] = {"in.png", "in.webp", "in.gif", "in.tif"};
    const auto path = Fuzz::scratch(names[data[0] % 4]);
    const auto bytes = Fuzz::text(data + 1, size - 1);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        std::abort();
    // The image library's pictures only: the rest go to the other readers' module, which has its
    // own target (qt_images).
    if (ImageLibrary::loaderFor(path).empty())
        return 0;
    try {
        const auto header = vips::VImage::new_from_file(path.c_str());
        if (double(header.width()) * header.height() > 4e6)
            return 0;
    } catch (const vips::VError&) {
        vips_error_clear();
    }
    std::string first, second;
    const auto once = converted(path, first);
    const auto again = converted(path, second);
    if (once != again || first != second)
        std::abort();
    return 0;
}
