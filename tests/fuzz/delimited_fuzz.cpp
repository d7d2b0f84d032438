#include "documents/delimited.h"
#include "fuzz_input.h"

#include <cstdlib>

using namespace SpreadsheetEngine;

// Any text reads as rows, and those rows written out read back as the same rows. Read in pieces
// of any size, as a file is, the text gives the same delimiter and rows.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto text = Fuzz::text(data, size);
    const char delimiter = detectDelimiter(text);
    const auto rows = parseDelimited(text, delimiter);

    const size_t step = size > 0 ? 1 + data[0] % 5 : 1;
    DelimiterCount count;
    std::vector<Row> pieces;
    DelimitedReader reader(delimiter, [&pieces](Row&& row) {
        pieces.push_back(std::move(row));
    });
    for (size_t at = 0; at < text.size(); at += step) {
        count.add(text.substr(at, step));
        reader.add(text.substr(at, step));
    }
    reader.finish();
    if (count.delimiter() != delimiter || pieces != rows)
        std::abort();

    if (rows.empty())  // written as one empty line, which reads as one empty cell
        return 0;
    const auto written = delimitedText(rows, delimiter);
    std::string_view back = written;
    if (delimiter == ',' && back.starts_with("\xEF\xBB\xBF"))  // CSV carries a byte-order mark
        back.remove_prefix(3);
    if (parseDelimited(back, delimiter) != rows)
        std::abort();
    return 0;
}
