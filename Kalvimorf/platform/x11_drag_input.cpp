#include "platform/x11_drag_input.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// How long a drag source gets to hand over its file list (and each further chunk of a long one).
// A file manager busy with a large folder, or any source on a loaded machine, can take some
// hundreds of milliseconds; the read is the watcher thread's, so waiting costs the interface
// nothing, and a trigger that comes meanwhile is answered once the list is in.
constexpr auto readBound = std::chrono::milliseconds(1500);
// How long the monitor waits for a read still under way when the trigger comes.
constexpr auto triggerWait = std::chrono::milliseconds(250);
// How many input times are kept for a source that moved on before it was asked: a second and
// more of a fast mouse, and a refusal of each takes one round trip to the source.
constexpr size_t inputTimesKept = 256;
// How long a read that the source refused for every input time waits for more input before it
// asks with the newest time again.
constexpr auto quietSpell = std::chrono::milliseconds(50);
// More presses than anyone makes between two polls.
constexpr size_t keysPressedKept = 64;

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* raw) { return Reply<T>(raw, &std::free); }

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    auto answer = reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_connection_t* openConnection(xcb_screen_t** screen)
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto iterator = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && iterator.rem; ++i)
        xcb_screen_next(&iterator);
    if (!iterator.rem) {
        xcb_disconnect(connection);
        return nullptr;
    }
    *screen = iterator.data;
    return connection;
}

}

// The main thread's connection: pointer, keymap and modifier mapping.
struct X11DragInput::Queries {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
    // The keys down at the last look, and the presses the keymap showed before their raw event
    // came (the watcher may lag behind under load): that event, when it comes, is the same press.
    std::bitset<256> down;
    std::array<int, 256> awaitedEvents{};

    ~Queries()
    {
        if (connection)
            xcb_disconnect(connection);
    }
};

// The watcher thread and what it has learnt, shared with the main thread under `mutex`.
struct X11DragInput::Watcher {
    xcb_connection_t* connection = nullptr;
    xcb_window_t screenRoot = XCB_NONE;
    xcb_window_t window = XCB_NONE;     // hears the claims
    xcb_window_t requestor = XCB_NONE;  // asks the latest claim's owner for its list
    xcb_atom_t selection = XCB_ATOM_NONE;  // XdndSelection
    xcb_atom_t uriList = XCB_ATOM_NONE;
    xcb_atom_t incr = XCB_ATOM_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;  // where the drag source puts the list for us
    uint8_t ownerEvent = 0;
    uint8_t inputExtension = 0;  // XInput's opcode when its raw events are selected, else 0
    // The server times of the latest input events, oldest first: the times a drag source may have
    // stamped its drag with after the claim (see readList).
    std::deque<uint32_t> inputTimes;
    long inputsSeen = 0;
    int stopFd = -1;
    int noticeFd = -1;  // counts the claims for the main thread's event loop
    std::thread thread;

    std::mutex mutex;
    std::condition_variable changed;
    long count = 0;
    long readCount = 0;  // the count whose read has finished
    std::vector<std::filesystem::path> files;
    bool stopping = false;
    // The keys pressed since the monitor last looked, from the raw events: a tap shorter than one
    // poll (a quick Escape) has left the keymap by the next look. Cleared as each drag claims the
    // selection, so that what was typed between drags never counts.
    std::vector<uint8_t> keysPressed;

    // An owner change seen while a read was under way; it is handled next.
    xcb_generic_event_t* deferred = nullptr;

    ~Watcher()
    {
        if (thread.joinable()) {
            {
                std::lock_guard lock(mutex);
                stopping = true;
            }
            const uint64_t one = 1;
            [[maybe_unused]] auto written = write(stopFd, &one, sizeof one);
            thread.join();
        }
        std::free(deferred);
        if (stopFd >= 0)
            close(stopFd);
        if (noticeFd >= 0)
            close(noticeFd);
        if (connection)
            xcb_disconnect(connection);
    }

    bool setUp()
    {
        xcb_screen_t* screen = nullptr;
        connection = openConnection(&screen);
        if (!connection)
            return false;
        const auto* extension = xcb_get_extension_data(connection, &xcb_xfixes_id);
        if (!extension || !extension->present)
            return false;
        ownerEvent = extension->first_event + XCB_XFIXES_SELECTION_NOTIFY;
        auto version = reply(xcb_xfixes_query_version_reply(connection,
            xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
        if (!version)
            return false;

        selection = internAtom(connection, "XdndSelection");
        uriList = internAtom(connection, "text/uri-list");
        incr = internAtom(connection, "INCR");
        property = internAtom(connection, "BRIVLON_DRAG_FILES");

        watchInput(screen->root);

        screenRoot = screen->root;
        window = hiddenWindow(0);
        auto error = reply(xcb_request_check(connection,
            xcb_xfixes_select_selection_input_checked(
                connection, window, selection, XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER)));
        if (error)
            return false;
        stopFd = eventfd(0, EFD_CLOEXEC);
        noticeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd < 0 || noticeFd < 0)
            return false;
        thread = std::thread([this] {
            run();
        });
        return true;
    }

    // Raw input events of every device, which XInput 2.1 and later deliver whatever grab a drag
    // source holds; without them a source that moved on before it was asked is not asked again.
    void watchInput(xcb_window_t root)
    {
        const auto* extension = xcb_get_extension_data(connection, &xcb_input_id);
        if (!extension || !extension->present)
            return;
        auto version = reply(xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
        if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 1))
            return;
        struct {
            xcb_input_event_mask_t head;
            uint32_t bits;
        } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
            XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE
                | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE
                | XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
        if (auto error = reply(xcb_request_check(
                connection, xcb_input_xi_select_events_checked(connection, root, 1, &mask.head))))
            return;
        inputExtension = extension->major_opcode;
    }

    // Keeps the time of a raw input event; false for any other event.
    bool noteInput(const xcb_generic_event_t* event)
    {
        if (!inputExtension || (event->response_type & 0x7f) != XCB_GE_GENERIC)
            return false;
        const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
        if (raw->extension != inputExtension)
            return false;
        if (inputTimes.empty() || inputTimes.back() != raw->time)
            inputTimes.push_back(raw->time);
        if (inputTimes.size() > inputTimesKept)
            inputTimes.pop_front();
        ++inputsSeen;
        if (raw->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            std::lock_guard lock(mutex);
            if (keysPressed.size() < keysPressedKept)
                keysPressed.push_back(static_cast<uint8_t>(raw->detail));
        }
        return true;
    }

    // The next event, or nothing at the deadline, when stopping or when the connection broke.
    // Raw input events are kept (noteInput) and never returned; with `atInput`, one of them ends
    // the wait as well (with nothing).
    xcb_generic_event_t* nextEvent(std::optional<Clock::time_point> deadline, bool atInput = false)
    {
        for (;;) {
            if (auto* event = xcb_poll_for_event(connection)) {
                if (!noteInput(event))
                    return event;
                std::free(event);
                if (atInput)
                    return nullptr;
                continue;
            }
            if (xcb_connection_has_error(connection))
                return nullptr;
            int timeout = -1;
            if (deadline) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
                if (left <= 0)
                    return nullptr;
                timeout = static_cast<int>(left);
            }
            pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {stopFd, POLLIN, 0}};
            if (poll(fds, 2, timeout) < 0 && errno != EINTR)
                return nullptr;
            if (fds[1].revents)
                return nullptr;
        }
    }

    bool isOwnerChange(const xcb_generic_event_t* event) const { return (event->response_type & 0x7f) == ownerEvent; }

    void run()
    {
        for (;;) {
            xcb_generic_event_t* event = deferred ? deferred : nextEvent(std::nullopt);
            deferred = nullptr;
            if (!event) {
                {
                    std::lock_guard lock(mutex);
                    stopping = true;
                }
                changed.notify_all();
                return;
            }
            if (isOwnerChange(event)) {
                const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
                onClaim(notify->owner, notify->selection_timestamp);
            }
            std::free(event);
        }
    }

    void onClaim(xcb_window_t owner, uint32_t timestamp)
    {
        long claim = 0;
        {
            std::lock_guard lock(mutex);
            claim = ++count;
            files.clear();
            // Only a drag beginning starts afresh: GTK's sources let go of the selection as their
            // drag ends, the Escape that cancelled it being among the keys still to be seen.
            if (owner != XCB_NONE)
                keysPressed.clear();
        }
        const uint64_t one = 1;
        [[maybe_unused]] auto written = write(noticeFd, &one, sizeof one);
        std::vector<std::filesystem::path> read;
        if (owner != XCB_NONE) {
            freshRequestor();
            read = UriList::localFiles(readList(timestamp));
        }
        {
            std::lock_guard lock(mutex);
            if (count != claim)
                return;
            files = std::move(read);
            readCount = claim;
        }
        changed.notify_all();
    }

    // Each claim is asked from a window of its own. The previous owner may still answer a request
    // it was sent, and its refusal looks like anyone's: it may name the same millisecond as the
    // new claim, or no time at all. Sent to a window gone, it cannot be taken for the new owner's.
    void freshRequestor()
    {
        if (requestor != XCB_NONE)
            xcb_destroy_window(connection, requestor);
        requestor = hiddenWindow(XCB_EVENT_MASK_PROPERTY_CHANGE);
    }

    // A window never shown, off the screen, that hears `events`.
    xcb_window_t hiddenWindow(uint32_t events)
    {
        const xcb_window_t made = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, made, screenRoot, -1, -1, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        return made;
    }

    // Waits for the next input event, until `deadline`: false when none came, when the drag
    // selection changed hands (the claim is kept for the main loop) or when the watch ends.
    // Other events meanwhile (late answers to requests given up) are of no use.
    bool awaitInput(Clock::time_point deadline)
    {
        const auto seen = inputsSeen;
        while (auto* event = nextEvent(deadline, true)) {
            if (isOwnerChange(event)) {
                deferred = event;
                return false;
            }
            std::free(event);
        }
        return inputsSeen != seen;
    }

    // Waits for an event that `wanted` accepts. Another claim of the selection ends the wait:
    // that drag is gone, and the claim is kept for the main loop.
    template <typename Wanted> xcb_generic_event_t* waitFor(Clock::time_point deadline, Wanted wanted)
    {
        while (auto* event = nextEvent(deadline)) {
            if (isOwnerChange(event)) {
                deferred = event;
                return nullptr;
            }
            if (wanted(event))
                return event;
            std::free(event);
        }
        return nullptr;
    }

    // Takes the property away; nothing when it is not there.
    std::optional<std::pair<xcb_atom_t, std::string>> takeProperty()
    {
        auto answer = reply(xcb_get_property_reply(connection,
            xcb_get_property(connection, 1, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1fffffff), nullptr));
        if (!answer || answer->type == XCB_ATOM_NONE)
            return std::nullopt;
        const auto* data = static_cast<const char*>(xcb_get_property_value(answer.get()));
        return std::pair{
            answer->type, std::string(data, static_cast<size_t>(xcb_get_property_value_length(answer.get())))};
    }

    enum class Answer { handed, refused, none };

    // Asks the source for its list as of `time`: handed over (in the property), refused, or no
    // answer by the deadline (or the drag gone).
    Answer ask(uint32_t time, Clock::time_point deadline)
    {
        xcb_delete_property(connection, requestor, property);
        xcb_convert_selection(connection, requestor, selection, uriList, property, time);
        xcb_flush(connection);
        auto* answer = waitFor(deadline, [&](const xcb_generic_event_t* event) {
            if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                return false;
            const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event);
            // The answer names the request's time, which tells it from a late answer to an
            // earlier request; a source that names no time is taken at its word.
            return notify->requestor == requestor && notify->selection == selection
                && (notify->time == time || notify->time == XCB_CURRENT_TIME);
        });
        if (!answer)
            return Answer::none;
        const bool refused = reinterpret_cast<const xcb_selection_notify_event_t*>(answer)->property == XCB_ATOM_NONE;
        std::free(answer);
        return refused ? Answer::refused : Answer::handed;
    }

    // The newest input time after `claimed` that was not asked with yet.
    std::optional<uint32_t> untriedTime(uint32_t claimed, const std::vector<uint32_t>& tried) const
    {
        for (auto time = inputTimes.rbegin(); time != inputTimes.rend(); ++time) {
            // Server times wrap after 49 days: later means a positive difference.
            if (static_cast<int32_t>(*time - claimed) > 0
                && std::find(tried.begin(), tried.end(), *time) == tried.end())
                return *time;
        }
        return std::nullopt;
    }

    // The drag's text/uri-list, or nothing when the source did not hand it over in time.
    // The request carries the time of the claim. A Qt source answers only for the time of the
    // latest position it sent a drop target, which moves on with each motion of the drag over a
    // window that takes drops (its own first), so a watcher that a loaded machine holds up past
    // the first motion is refused. The source stamped its new position with the time of an input
    // event it has handled, and each of those reached us as a raw event before its refusal did:
    // those times are asked in turn, newest first, until one is taken. When none is left, the
    // source is still a step ahead (the drag goes on, or the source stamped its position with an
    // event of its own, or had not yet handled the input it was asked with): the next input's
    // time is asked, and the newest again after a quiet spell, until the list is taken or the
    // read's bound (a drag of text alone is refused for every one).
    std::string readList(uint32_t claimed)
    {
        auto deadline = Clock::now() + readBound;
        std::vector<uint32_t> tried;
        std::optional<uint32_t> time = claimed;
        for (;;) {
            const auto answer = ask(*time, deadline);
            if (answer == Answer::none)
                return {};
            if (answer == Answer::handed)
                break;
            tried.push_back(*time);
            time = untriedTime(claimed, tried);
            while (!time) {
                if (deferred || !inputExtension || Clock::now() >= deadline)
                    return {};
                if (!awaitInput(std::min(deadline, Clock::now() + quietSpell)) && !inputTimes.empty())
                    std::erase(tried, inputTimes.back());
                time = untriedTime(claimed, tried);
            }
        }
        auto first = takeProperty();
        if (!first)
            return {};
        if (first->first != incr)
            return std::move(first->second);

        // A long list comes in chunks: each new value is taken (which asks for the next) until
        // an empty chunk ends it.
        std::string text;
        for (;;) {
            deadline = Clock::now() + readBound;
            auto* event = waitFor(deadline, [&](const xcb_generic_event_t* event) {
                if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                return notify->window == requestor && notify->atom == property
                    && notify->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!event)
                return {};
            std::free(event);
            auto piece = takeProperty();
            if (!piece)
                continue;  // the notice of a value already taken
            if (piece->second.empty())
                return text;
            text += piece->second;
        }
    }
};

std::shared_ptr<X11DragInput> X11DragInput::connect()
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        return nullptr;
    auto queries = std::make_unique<Queries>();
    xcb_screen_t* screen = nullptr;
    queries->connection = openConnection(&screen);
    if (!queries->connection)
        return nullptr;
    queries->root = screen->root;
    auto watcher = std::make_unique<Watcher>();
    if (!watcher->setUp())
        return nullptr;
    return std::shared_ptr<X11DragInput>(new X11DragInput(std::move(queries), std::move(watcher)));
}

X11DragInput::X11DragInput(std::unique_ptr<Queries> queries, std::unique_ptr<Watcher> watcher)
    : queries_(std::move(queries)), watcher_(std::move(watcher))
{
}

X11DragInput::~X11DragInput() = default;

DragInput::Pointer X11DragInput::pointer()
{
    auto* connection = queries_->connection;
    // Nobody reads events here, but keyboard mapping notices and errors still arrive; without
    // this they would pile up in memory for the life of the program.
    while (auto* event = xcb_poll_for_queued_event(connection))
        std::free(event);
    auto answer = reply(xcb_query_pointer_reply(connection, xcb_query_pointer(connection, queries_->root), nullptr));
    if (!answer)
        return {};
    const auto mask = answer->mask;
    Pointer pointer;
    pointer.leftButton = mask & XCB_KEY_BUT_MASK_BUTTON_1;
    pointer.rightButton = mask & XCB_KEY_BUT_MASK_BUTTON_3;
    if (mask & XCB_KEY_BUT_MASK_SHIFT)
        pointer.flags |= ModifierFlags::shift;
    if (mask & XCB_KEY_BUT_MASK_CONTROL)
        pointer.flags |= ModifierFlags::control;
    if (mask & XCB_KEY_BUT_MASK_MOD_1)
        pointer.flags |= ModifierFlags::option;
    if (mask & XCB_KEY_BUT_MASK_MOD_4)
        pointer.flags |= ModifierFlags::command;
    return pointer;
}

long X11DragInput::changeCount()
{
    std::lock_guard lock(watcher_->mutex);
    return watcher_->count;
}

bool X11DragInput::otherKeyDown()
{
    auto* connection = queries_->connection;
    // Taken before the keymap is asked for: every press listed then was already in the keymap the
    // server answers with, so a press the keymap shows newly down is either listed here or will be
    // at a later look, never lost between the two.
    std::vector<uint8_t> pressed;
    {
        std::lock_guard lock(watcher_->mutex);
        pressed.swap(watcher_->keysPressed);
    }
    // Both requests go out together: one round trip.
    const auto keymapCookie = xcb_query_keymap(connection);
    const auto modifiersCookie = xcb_get_modifier_mapping(connection);
    auto keymap = reply(xcb_query_keymap_reply(connection, keymapCookie, nullptr));
    auto modifiers = reply(xcb_get_modifier_mapping_reply(connection, modifiersCookie, nullptr));
    if (!keymap || !modifiers)
        return false;
    // Every row counts: caps lock, num lock and AltGr sit in the rows beyond the four we watch.
    std::bitset<256> modifierKeys;
    const auto* codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int total = xcb_get_modifier_mapping_keycodes_length(modifiers.get());
    for (int i = 0; i < total; ++i)
        modifierKeys.set(codes[i]);
    bool other = false;
    auto& queries = *queries_;
    for (int code = 8; code < 256; ++code) {
        const auto key = static_cast<size_t>(code);
        const bool down = keymap->keys[code / 8] & (1u << (code % 8));
        if (down && !queries.down.test(key))
            ++queries.awaitedEvents[key];
        queries.down.set(key, down);
        other = other || (down && !modifierKeys.test(key));
    }
    // A press the keymap did not show: a tap between two looks.
    for (const uint8_t code : pressed) {
        if (queries.awaitedEvents[code] > 0)
            --queries.awaitedEvents[code];
        else
            other = other || !modifierKeys.test(code);
    }
    return other;
}

int X11DragInput::claimNotice() { return watcher_->noticeFd; }

std::vector<std::filesystem::path> X11DragInput::dragFiles()
{
    auto& watcher = *watcher_;
    std::unique_lock lock(watcher.mutex);
    // A trigger right at the start of a drag can beat the read by a few milliseconds.
    watcher.changed.wait_for(lock, triggerWait, [&] {
        return watcher.readCount == watcher.count || watcher.stopping;
    });
    if (watcher.readCount != watcher.count)
        return {};
    return watcher.files;
}

bool X11DragInput::filesPending()
{
    auto& watcher = *watcher_;
    std::lock_guard lock(watcher.mutex);
    return watcher.readCount != watcher.count && !watcher.stopping;
}
