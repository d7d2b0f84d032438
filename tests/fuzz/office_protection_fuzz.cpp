#include "core/base/file_safety.h"
#include "documents/office_protection.h"
#include "fuzz_input.h"

// Any compound file, its sectors chained in loops, past its end or through a table of any
// length, is walked to an answer without a crash.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto path = Fuzz::scratch("pacote.xlsx");
    std::filesystem::remove(path);
    FileSafety::writeNew(path, Fuzz::text(data, size));
    OfficeProtection::isEncryptedPackage(path);
    return 0;
}
