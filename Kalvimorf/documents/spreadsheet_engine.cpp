#include "documents/spreadsheet_engine.h"

#include "core/conversion_error.h"

// Not built yet: every call fails as unsupported.
namespace SpreadsheetEngine {
fs::path convert(const fs::path&, const OutputFormat&) { throw ConversionError::unsupported(); }
}
