#include "platform/drop_offers.h"

#include "platform/x11_properties.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include <xcb/xcb.h>

namespace {

// Rewrites the proposed action of each XdndPosition before Qt's own handling reads it.
class MoveAsCopy final : public QAbstractNativeEventFilter {
public:
    explicit MoveAsCopy(xcb_connection_t* connection)
        : position_(X11Properties::atom(connection, "XdndPosition")),
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
        // data32[4] is the action the source proposes; its whole offer (XdndActionList) is added
        // to it, so a source that offers a move alone now offers a copy as well.
        if (client->type == position_ && client->format == 32 && position_ != XCB_ATOM_NONE
            && client->data.data32[4] == move_)
            client->data.data32[4] = copy_;
        return false;
    }

private:
    xcb_atom_t position_;
    xcb_atom_t move_;
    xcb_atom_t copy_;
};

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
    QCoreApplication::instance()->installNativeEventFilter(new MoveAsCopy(connection));
}

std::optional<Qt::DropAction> action(Qt::DropActions possible)
{
    for (auto action : {Qt::CopyAction, Qt::LinkAction})
        if (possible & action)
            return action;
    return std::nullopt;
}

}
