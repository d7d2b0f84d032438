#include "platform/workspace_watch.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The first 32-bit value of a window's property, if it has one.
std::optional<uint32_t> cardinal(
    xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, property, type, 0, 1), nullptr),
        &std::free);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    return *static_cast<uint32_t*>(xcb_get_property_value(reply.get()));
}

}

WorkspaceWatch::WorkspaceWatch(std::function<void()> changed) : changed_(std::move(changed))
{
    auto* connection = qtConnection();
    if (!connection)
        return;
    connection_ = connection;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    root_ = screen->root;
    activeAtom_ = atom(connection, "_NET_ACTIVE_WINDOW");
    desktopAtom_ = atom(connection, "_NET_CURRENT_DESKTOP");
    pidAtom_ = atom(connection, "_NET_WM_PID");
    lastActive_ = cardinal(connection, root_, activeAtom_, XCB_ATOM_WINDOW).value_or(0);
    lastDesktop_ = cardinal(connection, root_, desktopAtom_, XCB_ATOM_CARDINAL);
    // Add property changes to what this connection already hears from the root window.
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, root_), nullptr), &std::free);
    const uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);
    qGuiApp->installNativeEventFilter(this);
}

WorkspaceWatch::~WorkspaceWatch()
{
    if (connection_ && qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

bool WorkspaceWatch::activeIsOther()
{
    auto* connection = static_cast<xcb_connection_t*>(connection_);
    const auto active = cardinal(connection, root_, activeAtom_, XCB_ATOM_WINDOW).value_or(0);
    // Window managers write the property again with the same window, and pass through "none"
    // between two windows while focus moves; only another window counts.
    if (active == lastActive_ || active == 0)
        return false;
    lastActive_ = active;
    const auto pid = cardinal(connection, active, pidAtom_, XCB_ATOM_CARDINAL);
    return !pid || pid_t(*pid) != ::getpid();
}

bool WorkspaceWatch::desktopChanged(std::uint32_t property)
{
    if (property != desktopAtom_)
        return false;
    const auto desktop = cardinal(static_cast<xcb_connection_t*>(connection_), root_, desktopAtom_, XCB_ATOM_CARDINAL);
    const bool changed = desktop != lastDesktop_;
    lastDesktop_ = desktop;
    return changed;
}

bool WorkspaceWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (notify->window != root_)
        return false;
    if ((desktopChanged(notify->atom) || (notify->atom == activeAtom_ && activeIsOther())) && changed_)
        changed_();
    return false;
}
