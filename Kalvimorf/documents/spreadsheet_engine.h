#pragma once

#include "core/base/catalog.h"
#include "documents/workbook.h"

namespace SpreadsheetEngine {
// The output file, or a folder of one file per sheet for a workbook of several sheets written
// as CSV or TSV.
fs::path convert(const fs::path& source, const OutputFormat& format);
// An XLSX package, or CSV/TSV text as one sheet named "Planilha1".
Workbook load(const fs::path& source);
}
