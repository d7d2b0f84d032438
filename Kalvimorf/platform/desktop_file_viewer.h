#pragma once

#include "core/state/file_viewer.h"

// Asks the file manager over D-Bus (org.freedesktop.FileManager1) and opens the containing
// folder when no file manager answers.
class DesktopFileViewer final : public FileViewer {
public:
    using FileViewer::reveal;
    void reveal(const std::vector<std::filesystem::path>& items) override;
};
