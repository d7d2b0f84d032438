#include "core/engines/image_engine.h"
#include "fuzz_input.h"

#include <cstdlib>

// Resetting the orientation of any Exif block changes at most the two bytes of its value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ImageEngine::Properties props;
    props.exif = std::string(Fuzz::text(data, size));
    const auto kept = ImageEngine::metadata(props).exif;
    if (!kept || kept->size() != size)
        std::abort();
    int changed = 0;
    for (size_t i = 0; i < size; ++i)
        changed += (*kept)[i] != props.exif->at(i);
    if (changed > 2)
        std::abort();
    return 0;
}
