#include "platform/window_places.h"

#include "platform/x11_properties.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace WindowPlaces {

QScreen* screenForNew()
{
    if (auto* screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

QPoint centred(QSize size, const QRect& visible)
{
    return {visible.x() + (visible.width() - size.width()) / 2, visible.y() + (visible.height() - size.height()) / 2};
}

QRect fitted(const QRect& frame, const QRect& visible)
{
    QSize size = frame.size();
    if (size.width() < 520 || size.height() < 380)
        size = QSize(540, 600);
    size = size.boundedTo(visible.size() - QSize(20, 20));
    const int x = std::min(visible.x() + visible.width() - size.width() - 10, std::max(frame.x(), visible.x() + 10));
    const int y = std::max(visible.y() + 10, std::min(frame.y(), visible.y() + visible.height() - size.height() - 10));
    return {QPoint(x, y), size};
}

void setFrame(QWidget& widget, const QRect& frame)
{
    const QRect current = widget.frameGeometry(), inner = widget.geometry();
    const QSize decoration = current.size() - inner.size();
    widget.resize(frame.size() - decoration);
    widget.move(frame.topLeft());
}

namespace {

void sendToWindowManager(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t type,
    const std::vector<std::uint32_t>& data)
{
    const auto root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    std::copy(data.begin(), data.end(), message.data.data32);
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
}

// Adds one or two _NET_WM_STATE states: a mapped window asks the window manager, which owns the
// property then; a hidden one has them appended to what is there, as Qt writes its own states
// (above, modal) at the showing and keeps the ones it finds.
void addStates(QWidget& widget, xcb_connection_t* connection, const std::vector<xcb_atom_t>& wanted)
{
    const auto window = xcb_window_t(widget.winId());
    const auto state = X11Properties::atom(connection, "_NET_WM_STATE");
    if (widget.isVisible()) {
        sendToWindowManager(connection, window, state,
            {1, wanted.at(0), wanted.size() > 1 ? wanted[1] : 0, 1});  // add, from a normal application
        return;
    }
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 64), nullptr),
        &std::free);
    std::vector<xcb_atom_t> atoms;
    if (reply && reply->format == 32) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        atoms.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
    }
    for (const auto atom : wanted)
        if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.push_back(atom);
    xcb_change_property(
        connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32, std::uint32_t(atoms.size()), atoms.data());
}

}

void joinAllWorkspaces(QWidget& widget)
{
    auto* connection = X11Properties::connection();
    if (!connection)
        return;
    const auto desktop = X11Properties::atom(connection, "_NET_WM_DESKTOP");
    const std::uint32_t everywhere = 0xFFFFFFFF;
    if (widget.isVisible())
        sendToWindowManager(connection, xcb_window_t(widget.winId()), desktop, {everywhere, 1});
    else
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(widget.winId()), desktop,
            XCB_ATOM_CARDINAL, 32, 1, &everywhere);
    addStates(widget, connection, {X11Properties::atom(connection, "_NET_WM_STATE_STICKY")});
    xcb_flush(connection);
}

void keepOffTaskList(QWidget& widget)
{
    auto* connection = X11Properties::connection();
    if (!connection)
        return;
    addStates(widget, connection,
        {X11Properties::atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
            X11Properties::atom(connection, "_NET_WM_STATE_SKIP_PAGER")});
    xcb_flush(connection);
}

}
