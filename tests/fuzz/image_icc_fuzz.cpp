#include "core/engines/image_engine.h"
#include "fuzz_input.h"

// Any bytes taken for a colour profile get an answer, and only a profile that says "sRGB"
// somewhere can be one.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string icc(Fuzz::text(data, size));
    if (ImageEngine::describesSRGB(icc) && icc.find("sRGB") == std::string::npos
        && icc.find(std::string("\0s\0R\0G\0B", 8)) == std::string::npos)
        std::abort();
    return 0;
}
