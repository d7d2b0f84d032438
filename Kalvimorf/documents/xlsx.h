#pragma once

#include "documents/workbook.h"

#include <filesystem>

// The one XLSX package format of the program: cell values only (no styles, formulas, widths
// or merged cells), every text cell as an inline string, packed and read with the system's
// zip and unzip.
namespace SpreadsheetEngine {

// Writes the package (the workbook holds at least one sheet). A failing zip run throws
// ConversionError::ffmpeg with its last error line.
void writeXLSX(const Workbook& workbook, const std::filesystem::path& destination);

// The sheets that could be read, possibly none. Only a missing or malformed workbook part
// fails (ConversionError::unreadable); unreadable sheets are left out. Cells beyond row
// 1,048,576 or column 16,384, the format's own limits, are ignored.
Workbook readXLSX(const std::filesystem::path& package);

}
