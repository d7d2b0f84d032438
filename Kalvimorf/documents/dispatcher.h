#pragma once

#include "core/base/catalog.h"
#include "core/base/progress.h"

// The single entry that turns one source file into one output of a chosen format, inside the
// caller's task context (output folder, quality, cancellation): by the writer the formats' table
// gives the conversion (OutputFormats::writer), unsupported for one it does not list.
namespace Engine {
fs::path convert(const fs::path& source, MediaKind kind, const OutputFormat& format, const Progress& progress);
}
