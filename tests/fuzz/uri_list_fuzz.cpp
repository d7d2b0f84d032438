#include "fuzz_input.h"
#include "platform/drag_input.h"

#include <cstdlib>

// Whatever a drag source offers, only absolute paths come out, and none holds a NUL.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const auto& file : UriList::localFiles(Fuzz::text(data, size))) {
        if (!file.is_absolute() || file.native().find('\0') != std::string::npos)
            std::abort();
    }
    return 0;
}
