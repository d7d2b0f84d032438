#pragma once

#include "core/service.h"

#include <filesystem>

// The desktop's file manager, installed by the desktop side; without one nothing is shown.
class FileViewer : public Service<FileViewer> {
public:
    virtual ~FileViewer() = default;
    // Shows the item selected in its folder. Returns at once; main thread.
    virtual void reveal(const std::filesystem::path& item) = 0;
};
