#pragma once

// What the drag monitor needs from the desktop: the pointer's buttons and modifier state,
// a change count of the drag selection, whether any non-modifier key is down, and the file list
// of the drag in progress. The X11 service answers from its own connection; without an X
// display the service is a null object that never sees a drag.

#include "core/base/settings.h"

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

class DragInput {
public:
    struct Pointer {
        bool leftButton = false;
        // Only the quality cards look at it: a right click elsewhere closes them too.
        bool rightButton = false;
        unsigned flags = 0;  // ModifierFlags, already masked
    };

    virtual ~DragInput() = default;

    // False for the null object: nothing will ever be seen, so nobody needs to poll.
    virtual bool available() const = 0;
    // One query of the pointer: buttons and modifiers.
    virtual Pointer pointer() = 0;
    // Grows by one whenever a drag source claims the drag selection.
    virtual long changeCount() = 0;
    // True when a key that is not a modifier (caps lock, num lock, AltGr count as modifiers) is down,
    // or went down since the last call: a tap between two polls counts too.
    virtual bool otherKeyDown() = 0;
    // The local files of the drag that made the current change count; empty when none were readable.
    virtual std::vector<std::filesystem::path> dragFiles() = 0;
    // True while the file list of the current drag is still being read: dragFiles() has nothing
    // yet, and may have the files a moment later.
    virtual bool filesPending() { return false; }
    // A descriptor that turns readable whenever the change count grows (reading it clears it),
    // so that nobody needs to poll between drags; -1 when the service cannot tell, and then only
    // polling sees a drag begin.
    virtual int claimNotice() { return -1; }

    // The desktop's service: X11 when there is an X display, else the null object.
    static std::shared_ptr<DragInput> system();
    static std::shared_ptr<DragInput> null();
};

namespace UriList {
// The local files named by a text/uri-list: CRLF (or LF) separated lines, "#" comments skipped,
// only file: URLs of this machine kept, percent-decoded. Anything malformed is left out.
std::vector<std::filesystem::path> localFiles(std::string_view text);
}
