#pragma once

#include "core/catalog.h"

namespace SpreadsheetEngine {
// The output file, or a folder of one file per sheet for a workbook of several sheets.
fs::path convert(const fs::path& source, const OutputFormat& format);
}
