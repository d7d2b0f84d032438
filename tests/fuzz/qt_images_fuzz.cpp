#include "core/base/conversion_error.h"
#include "core/engines/image_library.h"
#include "core/engines/qt_images.h"
#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>

// Any bytes under the names whose files the engine rewrites before Qt's reader sees them
// (bitmaps with masks in odd headers, plain PBM, icons whose directory is mended) give a picture
// or a ConversionError. The first
// byte picks the name; pictures that say they are larger than a few megapixels are left out, as
// their size alone is what the engine bounds.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool started = ImageLibrary::start();
    if (!started || size < 1)
        return 0;
    const bool bitmap = data[0] % 3 == 1;
    const bool icon = data[0] % 3 == 2;
    const auto bytes = Fuzz::text(data + 1, size - 1);
    auto number = [&](size_t at) {
        return at + 4 <= bytes.size()
            ? std::abs(double(int32_t(uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8
                | uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24)))
            : 0.0;
    };
    if (bitmap && number(18) * number(22) > 4e6)
        return 0;
    if (!bitmap && bytes.size() > 1 << 16)
        return 0;  // a plain PBM's size is in its text, an icon's in its directory: bounded here
    const auto path = Fuzz::scratch(bitmap ? "in.bmp" : icon ? "in.ico" : "in.pbm");
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0)
        std::abort();
    try {
        const auto picture = QtImages::load(path);
        if (picture.image.width() < 1 || picture.image.height() < 1)
            std::abort();
    } catch (const ConversionError&) {
    }
    return 0;
}
