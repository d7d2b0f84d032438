#pragma once

#include "platform/drag_input.h"

#include <cstdint>
#include <unistd.h>

// The drag service as a test sets it: pointer, keys, change count and the drag's files are plain
// fields; it also counts the pointer queries and key scans, which must stay off the idle path.
// With `notice` set to an eventfd, claim() tells of a claim as the X11 service does.
class FakeDragInput final : public DragInput {
public:
    bool leftButton = false;
    bool rightButton = false;
    unsigned flags = 0;
    long count = 0;
    bool otherKey = false;
    std::vector<std::filesystem::path> files;
    // The list still being read: dragFiles() gives nothing until this is false again.
    bool pending = false;
    int keyScans = 0;
    int pointerQueries = 0;
    int notice = -1;

    bool available() const override { return true; }
    Pointer pointer() override
    {
        ++pointerQueries;
        return {leftButton, rightButton, flags};
    }
    long changeCount() override { return count; }
    bool otherKeyDown() override
    {
        ++keyScans;
        return otherKey;
    }
    std::vector<std::filesystem::path> dragFiles() override
    {
        return pending ? std::vector<std::filesystem::path>{} : files;
    }
    bool filesPending() override { return pending; }
    int claimNotice() override { return notice; }

    void claim()
    {
        ++count;
        const uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(notice, &one, sizeof one);
    }
};
