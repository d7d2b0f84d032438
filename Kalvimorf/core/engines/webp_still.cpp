#include "core/engines/webp_still.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"

#include <webp/decode.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

using vips::VImage;

namespace WebPStill {

namespace {

ConversionError damaged() { return ConversionError::ffmpeg(ErrorCauses::damaged); }

void freeSamples(VipsImage*, gpointer samples) { g_free(samples); }

}

VImage decode(const std::filesystem::path& file, int width, int height, bool alpha)
{
    FileSafety::Fd in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status { };
    if (!in || ::fstat(in.get(), &status) != 0 || status.st_size <= 0)
        throw ConversionError::unreadable();
    // Mapped rather than read: the decoder goes through it once, and its pages leave as it does.
    const size_t length = size_t(status.st_size);
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, in.get(), 0);
    if (mapped == MAP_FAILED)
        throw ConversionError::unreadable();
    std::unique_ptr<void, std::function<void(void*)>> mapping(mapped, [length](void* at) {
        ::munmap(at, length);
    });
    ::madvise(mapped, length, MADV_SEQUENTIAL);
    const auto* data = static_cast<const uint8_t*>(mapped);
    int givenWidth = 0, givenHeight = 0;
    if (!WebPGetInfo(data, length, &givenWidth, &givenHeight) || givenWidth != width || givenHeight != height)
        throw damaged();

    const int bands = alpha ? 4 : 3;
    const size_t stride = size_t(width) * size_t(bands), size = stride * size_t(height);
    std::unique_ptr<uint8_t, decltype(&g_free)> samples(static_cast<uint8_t*>(g_try_malloc(size)), g_free);
    if (!samples)
        throw ConversionError::ffmpeg("A imagem é grande demais para converter com a memória livre.");
    const auto* done = alpha ? WebPDecodeRGBAInto(data, length, samples.get(), size, int(stride))
                             : WebPDecodeRGBInto(data, length, samples.get(), size, int(stride));
    if (!done)
        throw damaged();
    mapping.reset();

    VipsImage* wrapped = vips_image_new_from_memory(samples.get(), size, width, height, bands, VIPS_FORMAT_UCHAR);
    if (!wrapped)
        throw ConversionError::unreadable();
    // From here the samples belong to the image, which frees them when it closes.
    g_signal_connect(wrapped, "postclose", G_CALLBACK(freeSamples), samples.release());
    return VImage(wrapped).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

}
