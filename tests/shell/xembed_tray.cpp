// A system tray of the XEmbed kind, as lxpanel's and the older panels' trays are: it owns
// _NET_SYSTEM_TRAY_S0 on a panel strip of its own colour at the top of the screen, tells the
// clients so, and takes the icon windows that ask to dock.
//   xembed_tray [#rrggbb]      (the panel's colour; #373737 by default)
// Prints "ready" once it owns the selection, and "docked" for each icon it has taken in. Reads
// commands from standard input: "look" answers "icon RATIO PIXELS": of the pixels of the docked
// icons that stand off the panel (by 1.2:1 or more), how many, and the contrast with the panel
// (1 to 21) that a fifth of them reach (a body or an outline that shows), as a user sees the
// icon there. It answers once an icon
// has drawn, or after 10 seconds with what shows then.

#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

xcb_connection_t* connection = nullptr;

xcb_atom_t atom(const char* name)
{
    auto* reply = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

double luminance(uint32_t rgb)
{
    auto channel = [](uint32_t value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((rgb >> 16) & 0xff) + 0.7152 * channel((rgb >> 8) & 0xff) + 0.0722 * channel(rgb & 0xff);
}

double contrast(uint32_t a, uint32_t b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const uint32_t panel = argc > 1 ? uint32_t(std::strtoul(argv[1] + (argv[1][0] == '#'), nullptr, 16)) : 0x373737;
    connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "xembed_tray: no X server\n");
        return 1;
    }
    auto* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t tray = xcb_generate_id(connection);
    const int iconSide = 24;
    const uint32_t values[] = {panel, 1, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    // A dock strip that the window manager leaves alone, like a panel.
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, tray, screen->root, 0, 0, 240, iconSide, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    const uint32_t horizontal = 0;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, tray, atom("_NET_SYSTEM_TRAY_ORIENTATION"),
        XCB_ATOM_CARDINAL, 32, 1, &horizontal);
    xcb_map_window(connection, tray);

    const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
    const xcb_atom_t opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
    const xcb_atom_t xembed = atom("_XEMBED");
    xcb_set_selection_owner(connection, tray, selection, XCB_CURRENT_TIME);
    auto* owner = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner == tray;
    std::free(owner);
    if (!owned) {
        std::fprintf(stderr, "xembed_tray: another tray owns the selection\n");
        return 1;
    }
    // The clients that wait for a tray hear of this one.
    xcb_client_message_event_t manager{};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = screen->root;
    manager.type = atom("MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = tray;
    xcb_send_event(connection, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&manager));
    xcb_flush(connection);
    std::printf("ready\n");

    std::vector<xcb_window_t> icons;
    std::string input;
    pollfd watched[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        while (auto* event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                // SYSTEM_TRAY_REQUEST_DOCK names the icon's window.
                if (message->type == opcode && message->data.data32[1] == 0) {
                    const xcb_window_t icon = message->data.data32[2];
                    const int x = int(icons.size()) * iconSide;
                    xcb_reparent_window(connection, icon, tray, int16_t(x), 0);
                    const uint32_t size[] = {iconSide, iconSide};
                    xcb_configure_window(
                        connection, icon, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
                    xcb_client_message_event_t embedded{};
                    embedded.response_type = XCB_CLIENT_MESSAGE;
                    embedded.format = 32;
                    embedded.window = icon;
                    embedded.type = xembed;
                    embedded.data.data32[0] = XCB_CURRENT_TIME;
                    embedded.data.data32[1] = 0;  // XEMBED_EMBEDDED_NOTIFY
                    embedded.data.data32[3] = tray;
                    xcb_send_event(connection, 0, icon, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&embedded));
                    xcb_map_window(connection, icon);
                    xcb_flush(connection);
                    icons.push_back(icon);
                    std::printf("docked\n");
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection))
            return 1;
        if (poll(watched, 2, -1) < 0)
            return 1;
        if (!(watched[1].revents & (POLLIN | POLLHUP)))
            continue;
        char buffer[256];
        const ssize_t read = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (read <= 0)
            return 0;
        input.append(buffer, size_t(read));
        for (size_t end; (end = input.find('\n')) != std::string::npos;) {
            const std::string command = input.substr(0, end);
            input.erase(0, end + 1);
            if (command != "look")
                continue;
            std::vector<double> ratios;
            // The icon paints in its program's own time, which nothing here hears of: the strip
            // is looked at again until it shows an icon.
            for (int tries = 0; ratios.empty() && tries < 500; ++tries) {
                if (tries > 0)
                    usleep(20000);
                // The strip as it shows, icons included (their pixels, over the panel's where
                // they draw nothing).
                std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> image(
                    xcb_get_image_reply(connection,
                        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, tray, 0, 0,
                            uint16_t(std::max<size_t>(icons.size(), 1) * iconSide), iconSide, 0xffffffff),
                        nullptr),
                    &std::free);
                if (!image || image->depth < 24)
                    continue;
                const auto* pixels = reinterpret_cast<const uint32_t*>(xcb_get_image_data(image.get()));
                const int count = xcb_get_image_data_length(image.get()) / 4;
                for (int i = 0; i < count; ++i)
                    if (const double ratio = contrast(pixels[i] & 0xffffff, panel); ratio >= 1.2)
                        ratios.push_back(ratio);
            }
            std::sort(ratios.rbegin(), ratios.rend());
            std::printf("icon %.2f %zu\n", ratios.empty() ? 1.0 : ratios[ratios.size() / 5], ratios.size());
        }
    }
}
