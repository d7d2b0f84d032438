#pragma once

#include "core/base/file_safety.h"
#include "documents/workbook.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// CSV and TSV text: reading with delimiter detection and quotes, writing with quotes only where
// a cell needs them.
namespace SpreadsheetEngine {

// The most frequent of ",", ";" and tab in the first line, earlier on a tie; "," when none.
char detectDelimiter(std::string_view text);
// The same for a text that arrives in pieces.
class DelimiterCount {
public:
    // Counts in the piece up to the first line's end; false once that end has come.
    bool add(std::string_view piece);
    char delimiter() const;

private:
    long counts_[3] = {};
    bool ended_ = false;
};
// The same reading for a text that arrives in pieces: each row goes to `row` as it ends. A row
// that would hold more than `largestRow` bytes fails with tableTooLarge.
class DelimitedReader {
public:
    DelimitedReader(char delimiter, std::function<void(Row&&)> row, size_t largestRow = rowBytes);
    void add(std::string_view text);
    // The text has ended: the last row, when it has anything.
    void finish();

private:
    void endRow();
    void endField();
    char delimiter_;
    std::function<void(Row&&)> onRow_;
    size_t largestRow_;
    Row row_;
    std::string field_;
    bool quoted_ = false;
    bool quoteSeen_ = false;  // inside quotes, a quote whose next character decides
    bool afterReturn_ = false;  // a "\r" ended the row; a "\n" right after it belongs to it
};
// Rows of the text; never fails. A final line break adds no row; quotes enclosing a field are
// dropped, a doubled quote inside them is one quote, and an unterminated quote runs to the end.
std::vector<Row> parseDelimited(std::string_view text, char delimiter);
// The rows ended by "\r\n", with a UTF-8 byte-order mark only for ","; a cell that a spreadsheet
// would run as a formula reaching outside the sheet (a link, a web fetch, a program, another
// book) is written after an apostrophe, every other cell unchanged.
std::string delimitedText(const std::vector<Row>& rows, char delimiter);
// Writes delimitedText() as a new file under the first free name of `names` and returns the
// path written.
std::filesystem::path writeDelimited(const std::vector<Row>& rows, char delimiter, const FileSafety::NameFor& names);
// The same, a row at a time, for rows that are never all held: the text goes to the file in
// slices, and finish() gives it its name.
class DelimitedWriter {
public:
    DelimitedWriter(char delimiter, FileSafety::NameFor names);
    void add(const Row& row);
    std::filesystem::path finish();

private:
    char delimiter_;
    FileSafety::NameFor names_;
    FileSafety::NewFile file_;
    std::string text_;
    bool any_ = false;
};
}
