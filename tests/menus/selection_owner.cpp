// Claims the drag selection the way a non-Qt drag source with a long file list does: it offers
// text/uri-list and hands it over in chunks (the INCR transfer) when the list is long.
//   selection_owner DIR COUNT
// names DIR/"arquivo N.jpg" for N = 1…COUNT (percent-encoded, with a comment and a web link that
// readers must skip). Reads commands from standard input: "claim" takes the selection and answers
// "claimed"; every finished transfer prints "served".
// "claim moving" plays a Qt source that went on before the reader's request reached it: requests
// wait ("asked") until the pointer next moves, and from then on only a request stamped with that
// motion's time is served, any other refused ("refused"), as Qt answers only for the time of the
// latest position it sent.
// "claim ahead" plays a Qt source that stamped its position with an event of its own, a step
// ahead of every input time a reader knows: requests are refused ("refused") until the pointer
// moves, and from then on only a request stamped with the latest motion's time is served.
// "claim held" holds every request ("asked") until "answer" answers them as "claim" would, or
// "refuse" refuses them as a late answer naming no time would, and prints "refused" once the
// server has passed the refusal on.
// "offer X Y" plays such a source over the window of ours at X,Y with XDND messages of its own:
// an enter and a position there, and when the target's request for that position comes, a second
// position a pixel further on first (the source went on), so that request is refused; from then
// on only requests stamped with the latest position's time are served. Each answer of the target
// prints "aceito" or "recusado". "drop" then lets go there, and prints "finished copy" or
// "finished none" as the target's answer names.

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr size_t piece = 64 * 1024;

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

std::string encoded(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-._~", c))
            out += char(c);
        else
            out += {'%', hex[c >> 4], hex[c & 15]};
    }
    return out;
}

// The window at (x, y) that takes XDND drops, or none.
xcb_window_t awareWindowAt(xcb_connection_t* c, xcb_window_t root, int x, int y)
{
    const auto aware = atom(c, "XdndAware");
    xcb_window_t window = root;
    for (int depth = 0; depth < 8; ++depth) {
        auto* place = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, root, window, int16_t(x), int16_t(y)), nullptr);
        const xcb_window_t child = place ? place->child : xcb_window_t(XCB_NONE);
        std::free(place);
        if (child == XCB_NONE)
            return XCB_NONE;
        auto* property
            = xcb_get_property_reply(c, xcb_get_property(c, 0, child, aware, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
        const bool found = property && property->type != XCB_NONE;
        std::free(property);
        if (found)
            return child;
        window = child;
    }
    return XCB_NONE;
}

void notify(xcb_connection_t* c, const xcb_selection_request_event_t* request, xcb_atom_t property)
{
    xcb_selection_notify_event_t event = {};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request->time;
    event.requestor = request->requestor;
    event.selection = request->selection;
    event.target = request->target;
    event.property = property;
    xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
}

}

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string list = "# lista longa\r\nhttps://example.com/nada.jpg\r\n";
    for (int i = 1; i <= std::atoi(argv[2]); ++i)
        list += "file://" + encoded(std::string(argv[1]) + "/arquivo " + std::to_string(i) + ".jpg") + "\r\n";

    auto* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
        XCB_COPY_FROM_PARENT, 0, nullptr);
    const auto selection = atom(c, "XdndSelection");
    const auto uriList = atom(c, "text/uri-list");
    const auto incr = atom(c, "INCR");
    // The motions' times, from raw events, which come whatever grab the pointer is under.
    const auto* input = xcb_get_extension_data(c, &xcb_input_id);
    std::free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } motion{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_MOTION};
    xcb_input_xi_select_events(c, screen->root, 1, &motion.head);
    xcb_flush(c);

    // The transfer under way: who gets it, where, and how far it got.
    xcb_window_t requestor = XCB_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    size_t sent = 0;
    // "claim moving": the requests held until the pointer moves, and then that motion's time.
    bool moving = false;
    bool ahead = false;
    bool holding = false;
    std::vector<xcb_selection_request_event_t> held;
    std::optional<uint32_t> movedAt;
    // "offer": the target, the pointer's place and the time of the latest message sent to it
    // (times of our own making, the way a source stamps them), and whether it went on yet.
    xcb_window_t target = XCB_NONE;
    int atX = 0, atY = 0;
    uint32_t offeredAt = 0;
    bool wentOn = false;
    const auto status = atom(c, "XdndStatus");
    const auto finished = atom(c, "XdndFinished");
    const auto copy = atom(c, "XdndActionCopy");
    const auto tell = [&](const char* name, std::array<uint32_t, 5> data) {
        xcb_client_message_event_t message = {};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = target;
        message.type = atom(c, name);
        std::copy(data.begin(), data.end(), message.data.data32);
        xcb_send_event(c, 0, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(c);
    };
    // The pointer goes where the source says it is, as a hand drags: a target takes the drop where
    // the pointer stands when it comes.
    const auto position = [&] {
        xcb_warp_pointer(c, XCB_NONE, screen->root, 0, 0, 0, 0, int16_t(atX), int16_t(atY));
        tell("XdndPosition", {window, 0, uint32_t(atX) << 16 | uint32_t(atY), ++offeredAt, copy});
    };

    const auto answer = [&](const xcb_selection_request_event_t* request) {
        if (request->target != uriList) {
            notify(c, request, XCB_ATOM_NONE);
        } else if ((moving && request->time != *movedAt) || (ahead && (!movedAt || request->time != *movedAt))
            || (target != XCB_NONE && request->time != offeredAt)) {
            notify(c, request, XCB_ATOM_NONE);
            std::printf("refused\n");
        } else if (list.size() <= piece) {
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property, uriList, 8,
                uint32_t(list.size()), list.data());
            notify(c, request, request->property);
            std::printf("served\n");
        } else {
            requestor = request->requestor;
            property = request->property;
            sent = 0;
            const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c, requestor, XCB_CW_EVENT_MASK, &mask);
            const uint32_t size = uint32_t(list.size());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, incr, 32, 1, &size);
            notify(c, request, property);
        }
    };

    for (;;) {
        while (auto* event = xcb_poll_for_event(c)) {
            const auto type = event->response_type & 0x7f;
            if (type == XCB_SELECTION_REQUEST) {
                const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
                if (target != XCB_NONE && !std::exchange(wentOn, true)) {
                    ++atX;
                    position();
                }
                if ((moving && !movedAt) || holding) {
                    held.push_back(*request);
                    std::printf("asked\n");
                } else {
                    answer(request);
                }
            } else if (type == XCB_GE_GENERIC && input && input->present
                && reinterpret_cast<const xcb_ge_generic_event_t*>(event)->extension == input->major_opcode) {
                // Only a motion later than the request counts: one from before the claim may
                // still be waiting in the queue, and one in the claim's millisecond changes
                // nothing.
                const auto time = reinterpret_cast<const xcb_input_raw_motion_event_t*>(event)->time;
                if (ahead)
                    movedAt = time;
                if (moving && !movedAt && !held.empty() && time != held.front().time) {
                    movedAt = time;
                    for (const auto& request : held)
                        answer(&request);
                    held.clear();
                }
            } else if (type == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                if (message->type == status)
                    std::printf(message->data.data32[1] & 1 ? "aceito\n" : "recusado\n");
                else if (message->type == finished)
                    std::printf(message->data.data32[1] & 1 && message->data.data32[2] == copy ? "finished copy\n"
                                                                                               : "finished none\n");
            } else if (type == XCB_PROPERTY_NOTIFY && requestor != XCB_NONE) {
                // The reader took the last chunk: the next one, and an empty one at the end.
                const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                if (change->window == requestor && change->atom == property && change->state == XCB_PROPERTY_DELETE) {
                    const size_t length = std::min(piece, list.size() - sent);
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, uriList, 8, uint32_t(length),
                        list.data() + sent);
                    sent += length;
                    if (length == 0) {
                        requestor = XCB_NONE;
                        std::printf("served\n");
                    }
                }
            }
            std::free(event);
        }
        xcb_flush(c);
        // Everything read so far is handled: wait for the server or a command.
        pollfd fds[2] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {0, POLLIN, 0}};
        poll(fds, 2, -1);
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char line[64] = {};
            if (!fgets(line, sizeof line, stdin))
                return 0;
            if (std::strncmp(line, "claim", 5) == 0) {
                moving = std::strncmp(line, "claim moving", 12) == 0;
                holding = std::strncmp(line, "claim held", 10) == 0;
                ahead = std::strncmp(line, "claim ahead", 11) == 0;
                movedAt.reset();
                xcb_set_selection_owner(c, window, selection, XCB_CURRENT_TIME);
                std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
                std::printf("claimed\n");
            } else if (std::sscanf(line, "offer %d %d", &atX, &atY) == 2) {
                xcb_set_selection_owner(c, window, selection, XCB_CURRENT_TIME);
                target = awareWindowAt(c, screen->root, atX, atY);
                if (target == XCB_NONE)
                    return 1;
                wentOn = false;
                tell("XdndEnter", {window, 5u << 24, uriList, 0, 0});
                position();
            } else if (std::strncmp(line, "answer", 6) == 0) {
                holding = false;
                for (const auto& request : held)
                    answer(&request);
                held.clear();
            } else if (std::strncmp(line, "refuse", 6) == 0) {
                holding = false;
                for (auto request : held) {
                    request.time = XCB_CURRENT_TIME;
                    notify(c, &request, XCB_ATOM_NONE);
                }
                held.clear();
                std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
                std::printf("refused\n");
            } else if (std::strncmp(line, "drop", 4) == 0 && target != XCB_NONE) {
                tell("XdndDrop", {window, 0, ++offeredAt, 0, 0});
            }
        }
    }
}
