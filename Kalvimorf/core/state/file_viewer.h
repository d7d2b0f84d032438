#pragma once

#include "core/base/service.h"

#include <filesystem>
#include <vector>

// The desktop's file manager, installed by the desktop side; without one nothing is shown.
class FileViewer : public Service<FileViewer> {
public:
    virtual ~FileViewer() = default;
    // Shows the items selected in their folder. Returns at once; main thread.
    virtual void reveal(const std::vector<std::filesystem::path>& items) = 0;
    void reveal(const std::filesystem::path& item) { reveal(std::vector{item}); }
};
