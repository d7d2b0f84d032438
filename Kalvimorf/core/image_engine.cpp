#include "core/image_engine.h"

#include "core/conversion_error.h"

// Not built yet: every call fails as unsupported.
namespace ImageEngine {
fs::path convert(const fs::path&, const OutputFormat&) { throw ConversionError::unsupported(); }
fs::path mergeToPDF(const std::vector<fs::path>&) { throw ConversionError::unsupported(); }
}
