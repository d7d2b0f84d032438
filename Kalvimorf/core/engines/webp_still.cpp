#include "core/engines/webp_still.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/engines/mapped_file.h"

#include <webp/decode.h>

#include <memory>
#include <optional>

using vips::VImage;

namespace WebPStill {

namespace {

ConversionError damaged() { return ConversionError::because(ErrorCauses::damaged); }

void freeSamples(VipsImage*, gpointer samples) { g_free(samples); }

}

VImage decode(const std::filesystem::path& file, int width, int height, bool alpha)
{
    std::optional<MappedFile> mapped(std::in_place, file);
    const auto* data = reinterpret_cast<const uint8_t*>(mapped->bytes().data());
    const size_t length = mapped->bytes().size();
    int givenWidth = 0, givenHeight = 0;
    if (!WebPGetInfo(data, length, &givenWidth, &givenHeight) || givenWidth != width || givenHeight != height)
        throw damaged();

    const int bands = alpha ? 4 : 3;
    const size_t stride = size_t(width) * size_t(bands), size = stride * size_t(height);
    std::unique_ptr<uint8_t, decltype(&g_free)> samples(static_cast<uint8_t*>(g_try_malloc(size)), g_free);
    if (!samples)
        throw ConversionError::because(ErrorCauses::pictureBeyondFreeMemory);
    const auto* done = alpha ? WebPDecodeRGBAInto(data, length, samples.get(), size, int(stride))
                             : WebPDecodeRGBInto(data, length, samples.get(), size, int(stride));
    if (!done)
        throw damaged();
    mapped.reset();

    VipsImage* wrapped = vips_image_new_from_memory(samples.get(), size, width, height, bands, VIPS_FORMAT_UCHAR);
    if (!wrapped)
        throw ConversionError::unreadable();
    // From here the samples belong to the image, which frees them when it closes.
    g_signal_connect(wrapped, "postclose", G_CALLBACK(freeSamples), samples.release());
    return VImage(wrapped).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

}
