#include "core/base/conversion_error.h"
#include "core/engines/targa.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

// Any bytes decode to a whole picture of the size the header gives, or fail with a
// ConversionError; the engine bounds that size before it decodes, and so does this.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto [width, height] = Targa::size(bytes);
    if (double(width) * height > 4e6)
        return 0;
    try {
        const auto picture = Targa::decode(bytes);
        if (picture.width != width || picture.height != height || picture.bands < 1 || picture.bands > 4
            || picture.pixels.size() != size_t(width) * size_t(height) * size_t(picture.bands))
            std::abort();
    } catch (const ConversionError&) {
    }
    return 0;
}
