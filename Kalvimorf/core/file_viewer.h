#pragma once

#include <filesystem>

// The desktop's file manager.
namespace FileViewer {
// Shows the item selected in its folder (the file manager's D-Bus interface), or opens the
// containing folder when no file manager answers. Returns at once; main thread.
void reveal(const std::filesystem::path& item);
}
