#include "platform/workspace_watch.h"

#include "platform/x11_properties.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <unistd.h>

using X11Properties::atom;
using X11Properties::cardinal;

WorkspaceWatch::WorkspaceWatch(std::function<void()> changed) : changed_(std::move(changed))
{
    auto* connection = X11Properties::connection();
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
