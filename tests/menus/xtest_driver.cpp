// Drives the X server's pointer and keyboard through XTEST, one command per line on standard
// input, and answers "ok" once the server has taken the input in:
//   move X Y         put the pointer at X,Y
//   press / release  the left button
//   glide DX DY N    move by DX,DY in N steps, 8 ms apart, as a hand would
//   down KEY / up KEY   a key by its keysym name (Shift_L, Super_L, Control_L, Caps_Lock, Return,
//                       Tab, Escape, space, comma, any lower-case letter or digit)
//   pause MS         hold still (a key held for a while)
// Real motion events, unlike a warp, make a drag source see the drag start as it would under a mouse.

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

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
