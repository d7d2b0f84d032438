#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "documents/archive_headers.h"
#include "fuzz_input.h"

// Any bytes, read as a zip or a RAR: the header walks end, and a refusal is a ConversionError.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto path = Fuzz::scratch("arquivo");
    std::filesystem::remove(path);
    FileSafety::writeNew(path, Fuzz::text(data, size));
    ArchiveHeaders::encrypted(path);
    try {
        ArchiveHeaders::requireSeparateEntries(path);
    } catch (const ConversionError&) {
    }
    return 0;
}
