#include "documents/xlsx.h"
#include "fuzz_input.h"

#include <cstdlib>

using namespace SpreadsheetEngine;

// The input is the package's parts one after the other, each ended by a NUL byte (which no XML
// part holds): workbook, its relationships, shared strings, then a sheet. Any parts read as
// sheets within the format's limits, or as nothing.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto rest = Fuzz::text(data, size);
    std::string_view parts[4];
    for (auto& part : parts) {
        const auto end = std::min(rest.find('\0'), rest.size());
        part = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    parseSheetList(parts[0], parts[1]);
    const auto shared = parseSharedStrings(parts[2]);
    const auto rows = parseWorksheet(parts[3], shared ? *shared : SharedStrings{});
    if (!rows)
        return 0;
    if (rows->size() > 1048576)
        std::abort();
    for (const auto& row : *rows)
        if (row.size() > 16384)
            std::abort();
    return 0;
}
