#include "documents/rtf.h"
#include "fuzz_input.h"

#include <cstdlib>

using namespace StyledText;

// Any bytes read as a document; what we write of it reads back with the same paragraphs.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Document first = Rtf::read(Fuzz::text(data, size));
    const Document second = Rtf::read(Rtf::write(first));
    if (second.blocks.size() != first.blocks.size())
        std::abort();
    return 0;
}
