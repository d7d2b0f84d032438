#include "documents/delimited.h"
#include "fuzz_input.h"

#include <cstdlib>
#include <string_view>

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
    // A formula that reaches outside the sheet comes back behind the apostrophe that keeps it
    // text; whatever else a cell holds comes back as it was.
    const auto backRows = parseDelimited(back, delimiter);
    if (backRows.size() != rows.size())
        std::abort();
    for (size_t r = 0; r < rows.size(); ++r) {
        if (backRows[r].size() != rows[r].size())
            std::abort();
        auto backCell = backRows[r].begin();
        for (const auto& [at, cell] : rows[r]) {
            if (backCell == backRows[r].end())
                std::abort();
            const auto [backAt, backText] = *backCell++;
            const auto sign = cell.find_first_not_of(" \t\r\n");
            const bool guarded = sign != std::string::npos
                && std::string_view("=+-@").find(cell[sign]) != std::string_view::npos
                && backText.size() == cell.size() + 1 && backText.front() == '\'' && backText.substr(1) == cell;
            if (backAt != at || (backText != cell && !guarded))
                std::abort();
        }
        if (backCell != backRows[r].end())
            std::abort();
    }
    return 0;
}
