#include "core/base/conversion_error.h"
#include "documents/docx.h"
#include "fuzz_input.h"

#include <optional>

// The input is the package's parts one after the other, each ended by a NUL byte (which no XML
// part holds): the document, its relationships, numbering, styles; a part the input stops
// before is missing. Any parts give a document or ConversionError, nothing else.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto rest = Fuzz::text(data, size);
    std::optional<std::string> parts[4];
    for (auto& part : parts) {
        if (rest.empty())
            break;
        const auto end = std::min(rest.find('\0'), rest.size());
        part = std::string(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    try {
        Docx::parse({parts[0].value_or(""), parts[1], parts[2], parts[3]});
    } catch (const ConversionError&) {
    }
    return 0;
}
