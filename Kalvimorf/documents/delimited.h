#pragma once

#include "core/base/file_safety.h"
#include "documents/workbook.h"

#include <filesystem>
#include <string>
#include <string_view>

// CSV and TSV text: reading with delimiter detection and quotes, writing with quotes only where
// a cell needs them.
namespace SpreadsheetEngine {

// The most frequent of ",", ";" and tab in the first line, earlier on a tie; "," when none.
char detectDelimiter(std::string_view text);
// Rows of the text; never fails. A final line break adds no row; quotes enclosing a field are
// dropped, a doubled quote inside them is one quote, and an unterminated quote runs to the end.
std::vector<Row> parseDelimited(std::string_view text, char delimiter);
// The rows ended by "\r\n", with a UTF-8 byte-order mark only for ",".
std::string delimitedText(const std::vector<Row>& rows, char delimiter);
// Writes delimitedText() as a new file under the first free name of `names` and returns the
// path written.
std::filesystem::path writeDelimited(const std::vector<Row>& rows, char delimiter, const FileSafety::NameFor& names);

}
