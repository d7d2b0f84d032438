#include "core/engines/image_engine.h"
#include "fuzz_input.h"

// Any bytes taken for a colour profile get an answer, without a crash: the profile reader
// (lcms) sees whatever the files carry.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ImageEngine::describesSRGB(Fuzz::text(data, size));
    return 0;
}
