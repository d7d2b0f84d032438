#include "core/engines/webp_container.h"

#include <webp/decode.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

// Any bytes give nothing or a WebP whose chunks add up, no larger than the bytes, that strips to
// itself again and whose picture is the one the bytes held, as libwebp sees it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto stripped = WebPContainer::withoutMetadata(bytes);
    if (!stripped)
        return 0;
    if (stripped->size() > size || WebPContainer::withoutMetadata(*stripped) != stripped)
        std::abort();
    int width = 0, height = 0, strippedWidth = 0, strippedHeight = 0;
    const auto* out = reinterpret_cast<const uint8_t*>(stripped->data());
    if (WebPGetInfo(data, size, &width, &height)
        && (!WebPGetInfo(out, stripped->size(), &strippedWidth, &strippedHeight) || strippedWidth != width
            || strippedHeight != height))
        std::abort();
    return 0;
}
