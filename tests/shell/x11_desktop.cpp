#include "shell/x11_desktop.h"

#include "platform/x11_properties.h"

#include <QApplication>
#include <QElapsedTimer>

#include <xcb/xcb.h>

#include <cstdlib>

namespace X11Desktop {

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void showDesktop(std::uint32_t desktop, bool asWindowManager)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const char name[] = "_NET_CURRENT_DESKTOP";
    auto* atom = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = root;
    event.type = atom->atom;
    event.data.data32[0] = desktop;
    const xcb_void_cookie_t request = asWindowManager
        ? xcb_change_property_checked(
              connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL, 32, 1, &desktop)
        : xcb_send_event_checked(connection, 0, root,
              XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
              reinterpret_cast<const char*>(&event));
    // A server that sees the connection closed before it has read the request drops the request:
    // on a loaded machine most of them were lost. Its answer says it has been carried out.
    free(xcb_request_check(connection, request));
    free(atom);
    xcb_disconnect(connection);
}

std::uint32_t currentDesktop()
{
    auto* connection = X11Properties::connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    return X11Properties::cardinal(
        connection, root, X11Properties::atom(connection, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL)
        .value_or(0);
}

}
