#pragma once

#include "platform/drag_input.h"

#include <memory>

// The drag service on an X display. Two connections of its own, apart from Qt's, so that waiting
// for a reply never disturbs Qt's event queue: one answers the monitor's polls on the main thread,
// the other belongs to a watcher thread that counts the claims of the drag selection and reads
// each new drag's file list the instant it is claimed. Drag sources (Qt's among them) answer that
// request only for the time of the drag's latest position, so reading when the trigger key comes is
// too late; a source that went on before the request reached it is asked again with the times of
// the input events since, which the thread also watches (XInput's raw events).
// Each claim is also told on claimNotice(), so that the monitor sleeps between drags.
class X11DragInput final : public DragInput {
public:
    // Nothing when there is no X display or the server lacks XFixes.
    static std::shared_ptr<X11DragInput> connect();
    ~X11DragInput() override;

    bool available() const override { return true; }
    Pointer pointer() override;
    long changeCount() override;
    bool otherKeyDown() override;
    std::vector<std::filesystem::path> dragFiles() override;
    bool filesPending() override;
    int claimNotice() override;

private:
    struct Queries;
    struct Watcher;

    X11DragInput(std::unique_ptr<Queries> queries, std::unique_ptr<Watcher> watcher);

    std::unique_ptr<Queries> queries_;
    std::unique_ptr<Watcher> watcher_;
};
