#include "core/base/conversion_error.h"
#include "documents/odt.h"
#include "fuzz_input.h"

#include <optional>

// The input is content.xml, then a NUL byte and styles.xml when the package has one. Any parts
// give a document or ConversionError, nothing else.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto text = Fuzz::text(data, size);
    const auto end = text.find('\0');
    std::optional<std::string> styles;
    if (end != std::string_view::npos)
        styles = std::string(text.substr(end + 1));
    try {
        Odt::parse(text.substr(0, end), styles);
    } catch (const ConversionError&) {
    }
    return 0;
}
