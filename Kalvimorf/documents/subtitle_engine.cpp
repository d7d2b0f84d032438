#include "documents/subtitle_engine.h"

#include "core/conversion_error.h"

// Not built yet: every call fails as unsupported.
namespace SubtitleEngine {
fs::path convert(const fs::path&, const OutputFormat&) { throw ConversionError::unsupported(); }
std::optional<double> time(const std::string&) { return std::nullopt; }
}
