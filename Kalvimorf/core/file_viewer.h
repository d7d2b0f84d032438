#pragma once

#include <filesystem>
#include <vector>

// The desktop's file manager.
namespace FileViewer {
// Shows the items selected in their folder (the file manager's D-Bus interface), or opens the
// folder of the first one when no file manager answers. Returns at once; main thread.
void reveal(const std::vector<std::filesystem::path>& items);
void reveal(const std::filesystem::path& item);
}
