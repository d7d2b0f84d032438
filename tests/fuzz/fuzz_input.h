#pragma once

#include "core/base/file_safety.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Fuzz {

inline std::string_view text(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// A path in a private folder that lasts as long as the process, for readers that take files.
inline std::filesystem::path scratch(const std::string& name)
{
    static const FileSafety::TempDir folder;
    return folder.path() / name;
}

}
