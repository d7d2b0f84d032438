// Drives the X server's pointer and keyboard through XTEST, one command per line on standard
// input, and answers "ok" once the server has taken the input in:
//   move X Y         put the pointer at X,Y
//   press / release  the left button
//   glide DX DY N    move by DX,DY in N steps, 8 ms apart, as a hand would
//   down KEY / up KEY   a key by its keysym name (Shift_L, Super_L, Control_L, Caps_Lock, Return,
//                       Tab, Escape, space, comma, any lower-case letter or digit)
//   pause MS         hold still (a key held for a while)
//   claimed          wait until a drag source has claimed the drag selection since the last
//                    `claimed` (or the start): a real file manager's drag has begun
//   find RRGGBB      wait until the screen shows pixels of that colour (give or take a few steps
//                    of each channel, as a picture's colour comes through its encoding), and print
//                    "at X Y", the middle of what shows it (a file's thumbnail in a file manager)
//   composited       wait until a compositing manager has taken the screen
// A wait that sees nothing within ten seconds ends the driver with a message.
// Real motion events, unlike a warp, make a drag source see the drag start as it would under a mouse.

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

namespace {

xcb_connection_t* connection;
xcb_window_t root;
int x = 0;
int y = 0;

void fake(uint8_t type, uint8_t detail, int16_t atX = 0, int16_t atY = 0)
{
    xcb_test_fake_input(
        connection, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? root : XCB_NONE, atX, atY, 0);
}

// A round trip: the server has handled everything sent before it.
void settle() { free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr)); }

constexpr auto waitLimit = std::chrono::seconds(10);
uint8_t claimEvent = 0;
bool claimSeen = false;
xcb_atom_t dragSelection = XCB_ATOM_NONE;

// Whether `event` tells of a drag source claiming the drag selection.
bool isClaim(const xcb_generic_event_t* event)
{
    return (event->response_type & 0x7f) == claimEvent
        && reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event)->selection == dragSelection;
}

// Listens for the drag selection changing hands from now on.
void watchClaims()
{
    const auto* extension = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!extension || !extension->present)
        return;
    claimEvent = uint8_t(extension->first_event + XCB_XFIXES_SELECTION_NOTIFY);
    free(xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 5, 0), nullptr));
    const char name[] = "XdndSelection";
    auto* atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return;
    dragSelection = atom->atom;
    xcb_xfixes_select_selection_input(
        connection, root, atom->atom, XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    free(atom);
    xcb_flush(connection);
}

// Reads the events that came, waiting for them until `until`; true once a claim was among them.
bool awaitClaim(std::chrono::steady_clock::time_point until)
{
    while (!claimSeen) {
        while (auto* event = xcb_poll_for_event(connection)) {
            claimSeen = claimSeen || isClaim(event);
            free(event);
        }
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (claimSeen || left.count() <= 0)
            break;
        pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&descriptor, 1, int(left.count()));
    }
    return std::exchange(claimSeen, false);
}

// Whether a compositing manager holds the screen's selection, waiting for one until `until`.
bool awaitCompositor(std::chrono::steady_clock::time_point until)
{
    const char name[] = "_NET_WM_CM_S0";
    auto* atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    xcb_xfixes_select_selection_input(connection, root, selection, XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    for (;;) {
        auto* owner
            = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
        const bool held = owner && owner->owner != XCB_NONE;
        free(owner);
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (held || left.count() <= 0)
            return held;
        pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&descriptor, 1, int(left.count()));
        while (auto* event = xcb_poll_for_event(connection)) {
            claimSeen = claimSeen || isClaim(event);
            free(event);
        }
    }
}

// Whether two colours differ by at most a few steps in each channel.
bool near(uint32_t a, uint32_t b)
{
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > 4)
            return false;
    return true;
}

// The middle of the pixels of colour `rgb` on the screen, if any show it.
std::optional<std::pair<int, int>> findColour(uint32_t rgb)
{
    const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
        xcb_get_image_reply(connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, screen->width_in_pixels,
                screen->height_in_pixels, ~0u),
            nullptr),
        &std::free);
    if (!image || image->depth != 24)
        return std::nullopt;
    const auto* pixels = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image.get()));
    const int width = screen->width_in_pixels, height = screen->height_in_pixels;
    int left = width, right = -1, top = height, bottom = -1;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            if (near(pixels[row * width + column], rgb)) {
                left = std::min(left, column);
                right = std::max(right, column);
                top = std::min(top, row);
                bottom = std::max(bottom, row);
            }
    if (right < 0)
        return std::nullopt;
    return std::pair{(left + right) / 2, (top + bottom) / 2};
}

uint8_t keycode(const std::string& name)
{
    static std::map<std::string, xcb_keysym_t> keysyms = {
        {"Shift_L", 0xffe1},
        {"Control_L", 0xffe3},
        {"Alt_L", 0xffe9},
        {"Super_L", 0xffeb},
        {"Caps_Lock", 0xffe5},
        {"a", 0x61},
        {"comma", 0x2c},
        {"3", 0x33},
        {"Return", 0xff0d},
        {"Tab", 0xff09},
        {"Escape", 0xff1b},
        {"space", 0x20},
    };
    auto found = keysyms.find(name);
    // Any other lower-case letter or digit is its own keysym.
    if (found == keysyms.end() && name.size() == 1 && (std::islower(name[0]) || std::isdigit(name[0])))
        found = keysyms.emplace(name, xcb_keysym_t(name[0])).first;
    if (found == keysyms.end())
        return 0;
    const auto* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* mapping = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
    if (!mapping)
        return 0;
    const auto* syms = xcb_get_keyboard_mapping_keysyms(mapping);
    uint8_t code = 0;
    for (int i = 0; i < count && !code; ++i)
        for (int j = 0; j < mapping->keysyms_per_keycode; ++j)
            if (syms[i * mapping->keysyms_per_keycode + j] == found->second) {
                code = static_cast<uint8_t>(setup->min_keycode + i);
                break;
            }
    free(mapping);
    return code;
}

}

int main()
{
    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "xtest_driver: no X display\n");
        return 1;
    }
    root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    watchClaims();

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        if (command == "move") {
            words >> x >> y;
            fake(XCB_MOTION_NOTIFY, 0, int16_t(x), int16_t(y));
        } else if (command == "press" || command == "release") {
            fake(command == "press" ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1);
        } else if (command == "glide") {
            int dx = 0, dy = 0, steps = 1;
            words >> dx >> dy >> steps;
            const int fromX = x, fromY = y;
            for (int i = 1; i <= steps; ++i) {
                x = fromX + dx * i / steps;
                y = fromY + dy * i / steps;
                fake(XCB_MOTION_NOTIFY, 0, int16_t(x), int16_t(y));
                xcb_flush(connection);
                std::this_thread::sleep_for(std::chrono::milliseconds(8));
            }
        } else if (command == "down" || command == "up") {
            std::string name;
            words >> name;
            const auto code = keycode(name);
            if (!code) {
                std::fprintf(stderr, "xtest_driver: no key %s\n", name.c_str());
                return 1;
            }
            fake(command == "down" ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code);
        } else if (command == "pause") {
            int ms = 0;
            words >> ms;
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        } else if (command == "claimed") {
            if (!awaitClaim(std::chrono::steady_clock::now() + waitLimit)) {
                std::fprintf(stderr, "xtest_driver: no drag claimed the drag selection\n");
                return 1;
            }
        } else if (command == "composited") {
            if (!awaitCompositor(std::chrono::steady_clock::now() + waitLimit)) {
                std::fprintf(stderr, "xtest_driver: no compositing manager took the screen\n");
                return 1;
            }
        } else if (command == "find") {
            std::string hex;
            words >> hex;
            const auto rgb = uint32_t(std::stoul(hex, nullptr, 16));
            const auto until = std::chrono::steady_clock::now() + waitLimit;
            auto found = findColour(rgb);
            // The screen tells of no change: it is looked at again after each frame's time.
            while (!found && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(16));
                found = findColour(rgb);
            }
            if (!found) {
                std::fprintf(stderr, "xtest_driver: nothing on the screen shows %s\n", hex.c_str());
                return 1;
            }
            std::printf("at %d %d\n", found->first, found->second);
        } else {
            std::fprintf(stderr, "xtest_driver: unknown command %s\n", command.c_str());
            return 1;
        }
        settle();
        std::printf("ok\n");
        std::fflush(stdout);
    }
    xcb_disconnect(connection);
    return 0;
}
