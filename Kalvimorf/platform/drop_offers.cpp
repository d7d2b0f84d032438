#include "platform/drop_offers.h"

#include "platform/x11_properties.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMimeData>
#include <QUrl>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

// Reads the XDND messages that other programs send to our windows before Qt's own handling does.
class OfferWatch final : public QAbstractNativeEventFilter {
public:
    explicit OfferWatch(xcb_connection_t* connection)
        : connection_(connection), enter_(X11Properties::atom(connection, "XdndEnter")),
          position_(X11Properties::atom(connection, "XdndPosition")),
          leave_(X11Properties::atom(connection, "XdndLeave")), drop_(X11Properties::atom(connection, "XdndDrop")),
          move_(X11Properties::atom(connection, "XdndActionMove")),
          copy_(X11Properties::atom(connection, "XdndActionCopy"))
    {
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (client->format != 32 || client->type == XCB_ATOM_NONE)
            return false;
        if (client->type == position_) {
            // data32[4] is the action the source proposes; Qt adds its whole offer
            // (XdndActionList), so a source that offers a move alone now offers a copy as well.
            if (client->data.data32[4] == move_)
                client->data.data32[4] = copy_;
            proposed_ = client->data.data32[4];
            positioned_ = positioned_ || client->window == entered_;
        } else if (client->type == enter_) {
            entered_ = client->window;
            positioned_ = false;
        } else if (client->type == leave_) {
            entered_ = XCB_NONE;
        } else if (client->type == drop_ && client->window == entered_ && !positioned_) {
            askBeforeTheDrop(*client);
            return true;
        }
        return false;
    }

private:
    // Qt answers a position with the last one waiting in its queue, whichever window that one is
    // for. When a source goes from one of our windows to another before the first has answered
    // (the menu opening over the main window on a busy machine), the new window's position is
    // answered as the old window's before the new one is even entered: the source ignores that
    // answer and sends no other, and Qt would hand the drop to the old window, whose refusal the
    // source would ignore as well, waiting for ever. So a drop on a window that no position
    // reached is put back behind a position of our own at the pointer.
    void askBeforeTheDrop(const xcb_client_message_event_t& drop)
    {
        positioned_ = true;
        const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
            xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, drop.window), nullptr), &std::free);
        xcb_client_message_event_t position = drop;
        position.response_type = XCB_CLIENT_MESSAGE;
        position.type = position_;
        position.data.data32[1] = 0;
        position.data.data32[2] = pointer ? uint32_t(uint16_t(pointer->root_x)) << 16 | uint16_t(pointer->root_y) : 0;
        position.data.data32[4] = proposed_ != XCB_ATOM_NONE ? proposed_ : copy_;
        xcb_client_message_event_t again = drop;
        again.response_type = XCB_CLIENT_MESSAGE;
        for (const auto* message : {&position, &again})
            xcb_send_event(
                connection_, 0, drop.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(message));
        xcb_flush(connection_);
    }

    xcb_connection_t* connection_;
    xcb_atom_t enter_, position_, leave_, drop_;
    xcb_atom_t move_, copy_;
    // The window the source last entered, whether a position for it has reached Qt since, and the
    // action the last position proposed (after the rewrite).
    xcb_window_t entered_ = XCB_NONE;
    bool positioned_ = false;
    xcb_atom_t proposed_ = XCB_ATOM_NONE;
};

// Nothing while the source has not handed the list over: an offered list that reads empty.
std::optional<DropOffers::DraggedFiles::Paths> readFiles(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return DropOffers::DraggedFiles::Paths{};
    const auto urls = data->urls();
    if (urls.isEmpty())
        return std::nullopt;
    DropOffers::DraggedFiles::Paths files;
    for (const auto& url : urls)
        if (url.isLocalFile())
            files.emplace_back(url.toLocalFile().toStdString());
    return files;
}

}

namespace DropOffers {

void takeMovesAsCopies()
{
    static bool installed = false;
    auto* connection = X11Properties::connection();
    if (installed || !connection || !QCoreApplication::instance())
        return;
    installed = true;
    // Lives as long as the process: the application keeps filters until it goes.
    QCoreApplication::instance()->installNativeEventFilter(new OfferWatch(connection));
}

std::optional<Qt::DropAction> action(Qt::DropActions possible)
{
    for (auto action : {Qt::CopyAction, Qt::LinkAction})
        if (possible & action)
            return action;
    return std::nullopt;
}

bool DraggedFiles::enter(const QMimeData* data)
{
    files_ = readFiles(data);
    return !files_ || !files_->empty();
}

const DraggedFiles::Paths& DraggedFiles::at(const QMimeData* data)
{
    static const Paths none;
    if (!files_)
        files_ = readFiles(data);
    return files_ ? *files_ : none;
}

DraggedFiles::Paths DraggedFiles::dropped(const QMimeData* data) const
{
    if (auto files = readFiles(data); files && !files->empty())
        return *files;
    return files_.value_or(Paths{});
}

}
