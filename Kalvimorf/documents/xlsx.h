#pragma once

#include "core/base/file_safety.h"
#include "documents/office_xml.h"
#include "documents/workbook.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one XLSX package format of the program: cell values only (no styles, formulas, widths
// or merged cells), every text cell as an inline string, packed and read with the system's
// zip and unzip.
namespace SpreadsheetEngine {

// The format's own bounds; nothing a reader finds beyond them is a real cell.
inline constexpr long long sheetRows = 1048576;
inline constexpr long long sheetColumns = 16384;
inline constexpr const char* beyondSheet
    = "A tabela passa do limite de uma planilha XLSX (1.048.576 linhas e 16.384 colunas).";

// Writes the package (the workbook holds at least one sheet) as a new file under the first free
// name of `names` and returns the path written. A sheet beyond the format's bounds
// (1,048,576 rows by 16,384 columns), which other programs would cut, fails with a
// ConversionError saying so; a failing zip run throws ConversionError::because with its last
// error line.
std::filesystem::path writeXLSX(const Workbook& workbook, const FileSafety::NameFor& names);

// The sheets of the package, possibly none. A missing or malformed workbook part, a malformed
// shared-string part or a malformed sheet fails (ConversionError::unreadable); sheets whose
// part is missing are left out. Cells beyond the format's bounds are ignored. The parts are read
// as they are unpacked, and a workbook that would hold more than tableBytes fails with
// tableTooLarge.
Workbook readXLSX(const std::filesystem::path& package);

// The shared-string table of a package: every text back to back, so that millions of short
// strings cost little more than their text.
class SharedStrings {
public:
    void add(std::string_view text);
    size_t size() const { return ends_.size(); }
    // The text at `index`; empty past the end.
    std::string_view operator[](size_t index) const;

private:
    std::string texts_;
    std::vector<size_t> ends_;
};

// A sheet listed by the workbook part: its name ("Planilha" and its position when it has none)
// and the path of its part in the package.
struct SheetEntry {
    std::string name;
    std::string part;
};

// The parsers of single parts, each given the part's bytes. Nothing when the part is not
// well-formed XML.
//
// The sheets of a workbook part, their parts found through the relationships part (an empty
// or malformed one leaves the usual "worksheets/sheet<n>.xml" beside the workbook part).
std::optional<std::vector<SheetEntry>> parseSheetList(std::string_view workbookXml, std::string_view relationshipsXml,
    const std::string& workbookPart = "xl/workbook.xml");
// A relationship's target as a path in the package (the office formats share it).
using OfficeXML::resolvePart;
// Read as a stream, so that a big part costs no more than its cells.
std::optional<SharedStrings> parseSharedStrings(std::string_view xml);
std::optional<std::vector<Row>> parseWorksheet(std::string_view xml, const SharedStrings& shared);
// The zero-based column of a reference such as "B7" from its leading letters A to Z (either
// case), capped just past the format's last column; nothing when it has no leading letter.
std::optional<long long> columnIndex(std::string_view reference);

}
