#include "core/engines/raw_images.h"

#include "core/base/conversion_error.h"
#include "core/base/error_log.h"
#include "core/engines/tiff_metadata.h"

#include <libraw/libraw.h>

#include <memory>

using vips::VImage;

namespace RawImages {

ImageEngine::Picture load(const fs::path& file)
{
    auto raw = std::make_unique<LibRaw>();
    auto failed = [&](int code) {
        ErrorLog::add(std::string("LibRaw: ") + libraw_strerror(code));
        return ConversionError::unreadable();
    };
    if (int code = raw->open_file(file.c_str()); code != LIBRAW_SUCCESS)
        throw failed(code);
    // The header's size, before a pixel is unpacked.
    const auto& sizes = raw->imgdata.sizes;
    ImageEngine::requirePixels(sizes.raw_width, sizes.raw_height);
    auto& params = raw->imgdata.params;
    params.use_camera_wb = 1;
    params.output_color = 1;  // sRGB
    params.output_bps = 8;
    if (int code = raw->unpack(); code != LIBRAW_SUCCESS)
        throw failed(code);
    if (int code = raw->dcraw_process(); code != LIBRAW_SUCCESS)
        throw failed(code);
    int code = LIBRAW_SUCCESS;
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> developed(
        raw->dcraw_make_mem_image(&code), LibRaw::dcraw_clear_mem);
    if (!developed || code != LIBRAW_SUCCESS || developed->type != LIBRAW_IMAGE_BITMAP || developed->bits != 8
        || (developed->colors != 3 && developed->colors != 1))
        throw failed(code == LIBRAW_SUCCESS ? LIBRAW_UNSPECIFIED_ERROR : code);
    // The raw file's own buffers go before the picture is copied out.
    raw->recycle();
    VipsImage* pixels = vips_image_new_from_memory_copy(developed->data, developed->data_size, developed->width,
        developed->height, developed->colors, VIPS_FORMAT_UCHAR);
    if (!pixels)
        throw ConversionError::unreadable();
    VImage image(pixels);
    ImageEngine::Picture picture;
    picture.image = image.copy(VImage::option()->set(
        "interpretation", developed->colors == 3 ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_B_W));
    picture.props.orientation = 1;
    picture.props.loader = "libraw";
    // Most raw formats are TIFF inside, their first directory the camera's and the shot's
    // description: the output keeps it as a photo's Exif (its orientation reset, as the pixels
    // were turned).
    picture.props.exif = TiffMetadata::exifOf(file);
    return picture;
}

}
