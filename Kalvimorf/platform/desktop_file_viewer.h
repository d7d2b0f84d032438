#pragma once

#include "core/file_viewer.h"

// Asks the file manager over D-Bus (org.freedesktop.FileManager1) and opens the containing
// folder when no file manager answers.
class DesktopFileViewer final : public FileViewer {
public:
    void reveal(const std::filesystem::path& item) override;
};
