#include "core/pdf_engine.h"

#include "core/conversion_error.h"

// Not built yet: every call fails as unsupported.
namespace PDFEngine {
fs::path convert(const fs::path&, const OutputFormat&, const Progress&) { throw ConversionError::unsupported(); }
fs::path merge(const std::vector<fs::path>&) { throw ConversionError::unsupported(); }
}
