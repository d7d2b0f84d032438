#include "core/media_engine.h"

#include "core/conversion_error.h"

// Not built yet: every call fails as unsupported.
namespace MediaEngine {
fs::path convert(const fs::path&, const OutputFormat&, const Progress&) { throw ConversionError::unsupported(); }
std::optional<std::vector<std::string>> arguments(const std::string&) { return std::nullopt; }
std::string capFilter(std::optional<int>) { return {}; }
}
