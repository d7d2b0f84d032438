#include "core/engine.h"

#include "core/conversion_error.h"

// Not built yet.
namespace Engine {
fs::path convert(const fs::path&, MediaKind, const OutputFormat&, const Progress&) { throw ConversionError::unsupported(); }
}
