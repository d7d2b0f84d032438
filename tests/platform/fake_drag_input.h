#pragma once

#include "platform/drag_input.h"

// The drag service as a test sets it: pointer, keys, change count and the drag's files are plain
// fields; it also counts the key scans, which must stay off the idle path.
class FakeDragInput final : public DragInput {
public:
    bool leftButton = false;
    bool rightButton = false;
    unsigned flags = 0;
    long count = 0;
    bool otherKey = false;
    std::vector<std::filesystem::path> files;
    int keyScans = 0;

    bool available() const override { return true; }
    Pointer pointer() override { return {leftButton, rightButton, flags}; }
    long changeCount() override { return count; }
    bool otherKeyDown() override
    {
        ++keyScans;
        return otherKey;
    }
    std::vector<std::filesystem::path> dragFiles() override { return files; }
};
