#include "core/base/conversion_error.h"
#include "core/engines/bit_fields.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

// Any bytes are a bitmap of bit fields of the size its header gives, whole, or fail with a
// ConversionError; the engine bounds that size before it decodes, and so does this.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto found = BitFields::size(bytes.substr(0, 14 + 56));
    if (!found || double(found->first) * found->second > 4e6)
        return 0;
    try {
        const auto picture = BitFields::decode(bytes);
        if (picture.width != found->first || picture.height != found->second || picture.bands < 3 || picture.bands > 4
            || picture.pixels.size() != size_t(picture.width) * size_t(picture.height) * size_t(picture.bands))
            std::abort();
    } catch (const ConversionError&) {
    }
    return 0;
}
