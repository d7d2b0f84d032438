#include "documents/archive_engine.h"

#include "core/conversion_error.h"

// Not built yet: every call fails as unsupported.
namespace ArchiveEngine {
fs::path create(const std::vector<fs::path>&, const OutputFormat&) { throw ConversionError::unsupported(); }
fs::path extract(const fs::path&) { throw ConversionError::unsupported(); }
fs::path repack(const fs::path&, const OutputFormat&) { throw ConversionError::unsupported(); }
}
