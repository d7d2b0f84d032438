#include "core/conversion_error.h"
#include "documents/text_file.h"
#include "documents/xlsx.h"
#include "documents/zip_tools.h"
#include "fuzz_input.h"

#include <cstdlib>

namespace fs = std::filesystem;

// The input is the package's parts one after the other, each ended by a NUL byte (which no XML
// part holds): workbook, its relationships, shared strings, then two sheets. Packed with zip,
// any package reads as sheets within the format's limits, or fails as unreadable.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fs::path folder = Fuzz::scratch("parts");
    static const fs::path package = Fuzz::scratch("book.xlsx");
    FileSafety::removeTree(folder);
    fs::create_directories(folder / "xl/_rels");
    fs::create_directories(folder / "xl/worksheets");
    auto rest = Fuzz::text(data, size);
    for (const char* part : {"xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/sharedStrings.xml",
                             "xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml"}) {
        const auto end = std::min(rest.find('\0'), rest.size());
        TextFile::writeAtomically(folder / part, rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    fs::remove(package);
    ZipTools::packContents(package, folder);
    try {
        for (const auto& sheet : SpreadsheetEngine::readXLSX(package)) {
            if (sheet.rows.size() > 1048576)
                std::abort();
            for (const auto& row : sheet.rows)
                if (row.size() > 16384)
                    std::abort();
        }
    } catch (const ConversionError&) {
    }
    return 0;
}
