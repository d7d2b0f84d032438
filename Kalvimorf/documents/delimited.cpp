#include "documents/delimited.h"

#include "core/base/file_safety.h"

#include <algorithm>
#include <array>

namespace SpreadsheetEngine {

char detectDelimiter(std::string_view text)
{
    const auto firstLine = text.substr(0, text.find_first_of("\r\n"));
    char best = ',';
    long bestCount = 0;
    for (char candidate : std::array{',', ';', '\t'}) {
        long count = std::count(firstLine.begin(), firstLine.end(), candidate);
        if (count > bestCount) {
            best = candidate;
            bestCount = count;
        }
    }
    return best;
}

std::vector<Row> parseDelimited(std::string_view text, char delimiter)
{
    std::vector<Row> rows;
    Row row;
    std::string field;
    bool quoted = false;
    auto endRow = [&] {
        row.push_back(std::move(field));
        field.clear();
        rows.push_back(std::move(row));
        row = Row();
    };
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field.push_back(c);
                continue;
            }
            if (i + 1 < n && text[i + 1] == '"') {
                field.push_back('"');
                ++i;
                continue;
            }
            quoted = false;
            continue;  // whatever follows is read outside the quotes
        }
        if (c == '"' && field.empty())
            quoted = true;
        else if (c == delimiter) {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n')
            endRow();
        else if (c == '\r') {
            if (i + 1 < n && text[i + 1] == '\n')
                ++i;
            endRow();
        } else
            field.push_back(c);
    }
    if (!field.empty() || !row.empty())
        endRow();
    return rows;
}

std::string delimitedText(const std::vector<Row>& rows, char delimiter)
{
    const char special[] = {delimiter, '"', '\n', '\r'};
    const std::string_view specials(special, sizeof special);
    std::string text = delimiter == ',' ? "\xEF\xBB\xBF" : "";
    for (const auto& row : rows) {
        size_t column = 0;  // where the text so far ends
        for (const auto& [at, cell] : row) {
            text.append(at - column, delimiter);
            column = at;
            if (cell.find_first_of(specials) == std::string::npos) {
                text += cell;
                continue;
            }
            text.push_back('"');
            for (char ch : cell) {
                if (ch == '"')
                    text.push_back('"');
                text.push_back(ch);
            }
            text.push_back('"');
        }
        if (!row.empty())
            text.append(row.size() - 1 - column, delimiter);
        text += "\r\n";
    }
    if (rows.empty())
        text += "\r\n";
    return text;
}

std::filesystem::path writeDelimited(const std::vector<Row>& rows, char delimiter, const FileSafety::NameFor& names)
{
    return FileSafety::writeNew(names, delimitedText(rows, delimiter));
}

}
