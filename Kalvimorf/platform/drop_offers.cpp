#include "platform/drop_offers.h"

#include "platform/x11_properties.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

class OfferWatch;
// The one watch, once installed.
OfferWatch* watch = nullptr;

// The input-only windows standing in for windows of ours (DropArea).
std::map<xcb_window_t, DropOffers::DropArea*>& standIns()
{
    static std::map<xcb_window_t, DropOffers::DropArea*> areas;
    return areas;
}

// Reads the XDND messages that other programs send to our windows before Qt's own handling does.
class OfferWatch final : public QAbstractNativeEventFilter {
public:
    explicit OfferWatch(xcb_connection_t* connection)
        : connection_(connection), enter_(X11Properties::atom(connection, "XdndEnter")),
          position_(X11Properties::atom(connection, "XdndPosition")),
          leave_(X11Properties::atom(connection, "XdndLeave")), drop_(X11Properties::atom(connection, "XdndDrop")),
          status_(X11Properties::atom(connection, "XdndStatus")),
          finished_(X11Properties::atom(connection, "XdndFinished")),
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
        // A source sent on by a stand-in names the stand-in, as XDND asks; Qt knows only the window.
        const DropOffers::DropArea* viaStandIn = nullptr;
        if (const auto found = standIns().find(client->window); found != standIns().end()) {
            viaStandIn = found->second;
            if (client->type == enter_)
                heedsTheProxy_ = isQtSource(client->data.data32[0]);
            if (client->type == position_ && !heedsTheProxy_)
                answerForTheStandIn(*client, *viaStandIn);
            if (client->type == enter_ && !heedsTheProxy_) {
                standInEntered_ = client->window;
                positionAfterTheEnter(*client, *viaStandIn);
            }
            client->window = xcb_window_t(viaStandIn->window()->winId());
            if (client->type == leave_)
                standInEntered_ = XCB_NONE;
        } else if (client->type == enter_) {
            standInEntered_ = XCB_NONE;
        }
        if (client->type == position_) {
            // data32[4] is the action the source proposes; Qt adds its whole offer
            // (XdndActionList), so a source that offers a move alone now offers a copy as well.
            if (client->data.data32[4] == move_)
                client->data.data32[4] = copy_;
            proposed_ = client->data.data32[4];
            if (client->window == entered_) {
                positioned_ = true;
                positionedAt_ = client->data.data32[2];
            }
        } else if (client->type == enter_) {
            entered_ = client->window;
            positioned_ = false;
        } else if (client->type == leave_) {
            entered_ = XCB_NONE;
        } else if (client->type == drop_ && client->window == entered_ && !positioned_) {
            askBeforeTheDrop(*client);
            return true;
        }
        if (client->type == drop_ && standInEntered_ != XCB_NONE && client->window == entered_)
            finishForTheStandIn(*client);
        // Dropped: the stand-in goes once Qt has the drop, so that the window's own next step
        // (the quality cards) takes its clicks itself.
        if (client->type == drop_)
            for (const auto& [standIn, area] : standIns())
                if (xcb_window_t(area->window()->winId()) == client->window)
                    QTimer::singleShot(0, area, &DropOffers::DropArea::withdraw);
        return false;
    }

    // Whether the source of the drag in hand heeds the stand-in's answers alone, which take a
    // copy: Qt's own, in the window's name, then never reach it.
    bool answeredByTheStandIn() const { return standInEntered_ != XCB_NONE; }

private:
    // Qt answers in the name of the window it knows, and some sources (GTK 3's) take only an answer
    // in the name of the window they found, the stand-in: they would wait for it for ever, sending
    // no further position. So the stand-in answers too, taking a copy wherever its area reaches;
    // each source heeds the one answer in the name it expects. The drop is the window's to refuse.
    // The answer goes before Qt's: a Qt source reads the last answer waiting and drops the others.
    void answerForTheStandIn(const xcb_client_message_event_t& position, const DropOffers::DropArea& area)
    {
        const uint32_t at = position.data.data32[2];
        const bool takes = area.holds(int(at >> 16), int(at & 0xffff));
        xcb_client_message_event_t status{};
        status.response_type = XCB_CLIENT_MESSAGE;
        status.format = 32;
        status.window = position.data.data32[0];
        status.type = status_;
        status.data.data32[0] = position.window;
        // Accepted, and positions wanted at every move.
        status.data.data32[1] = takes ? 3 : 2;
        status.data.data32[4] = takes ? copy_ : xcb_atom_t(XCB_ATOM_NONE);
        xcb_send_event(connection_, 0, status.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&status));
        xcb_flush(connection_);
    }

    // Qt reads a position of the window the source left together with the newer ones waiting, and
    // answers the newest in the old window's name: when the menu opens under a hand that was over
    // another window of ours, the stand-in's first position can go so, unseen here, and a source
    // that heeds only the stand-in's answers waits for ever. A position of our own at the pointer,
    // behind the enter, has the stand-in answer in any case.
    void positionAfterTheEnter(const xcb_client_message_event_t& enter, const DropOffers::DropArea& area)
    {
        xcb_client_message_event_t position = enter;
        position.response_type = XCB_CLIENT_MESSAGE;
        position.type = position_;
        position.data.data32[1] = 0;
        position.data.data32[3] = XCB_CURRENT_TIME;
        position.data.data32[4] = copy_;
        const auto window = xcb_window_t(area.window()->winId());
        QTimer::singleShot(0, [this, position, window]() mutable {
            const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
                xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, window), nullptr), &std::free);
            if (!pointer || entered_ != window)
                return;
            position.data.data32[2] = uint32_t(uint16_t(pointer->root_x)) << 16 | uint16_t(pointer->root_y);
            xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&position));
            xcb_flush(connection_);
        });
    }

    // Qt's sources take answers in the proxy's name and read only the last answer waiting: an
    // answer of the stand-in's own would hide Qt's. They drag from Qt's selection owner window.
    bool isQtSource(xcb_window_t source)
    {
        const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> name(
            xcb_get_property_reply(connection_,
                xcb_get_property(connection_, 0, source, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 8), nullptr),
            &std::free);
        static constexpr char owner[] = "Qt Selection Owner";
        return name && xcb_get_property_value_length(name.get()) >= int(sizeof owner - 1)
            && std::memcmp(xcb_get_property_value(name.get()), owner, sizeof owner - 1) == 0;
    }

    // To the source, once Qt has done with the message in hand.
    void send(const xcb_client_message_event_t& message)
    {
        QTimer::singleShot(0, [connection = connection_, message] {
            xcb_send_event(
                connection, 0, message.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
            xcb_flush(connection);
        });
    }

    // The same for the end of a drop that came by the stand-in, once Qt has taken it (its own
    // word, in the window's name, goes first): taken where the stand-in's area held it.
    void finishForTheStandIn(const xcb_client_message_event_t& drop)
    {
        const auto found = standIns().find(standInEntered_);
        if (found == standIns().end())
            return;
        xcb_client_message_event_t finished{};
        finished.response_type = XCB_CLIENT_MESSAGE;
        finished.format = 32;
        finished.window = drop.data.data32[0];
        finished.type = finished_;
        finished.data.data32[0] = standInEntered_;
        const bool taken = found->second->holds(int(positionedAt_ >> 16), int(positionedAt_ & 0xffff));
        finished.data.data32[1] = taken ? 1 : 0;
        finished.data.data32[2] = taken ? copy_ : xcb_atom_t(XCB_ATOM_NONE);
        send(finished);
        // Once Qt has handed the drop to the window, which asks whose answers the source heeds.
        QTimer::singleShot(0, [this] {
            standInEntered_ = XCB_NONE;
        });
    }

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
        positionedAt_ = position.data.data32[2];
        position.data.data32[4] = proposed_ != XCB_ATOM_NONE ? proposed_ : copy_;
        xcb_client_message_event_t again = drop;
        again.response_type = XCB_CLIENT_MESSAGE;
        for (const auto* message : {&position, &again})
            xcb_send_event(
                connection_, 0, drop.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(message));
        xcb_flush(connection_);
    }

    xcb_connection_t* connection_;
    xcb_atom_t enter_, position_, leave_, drop_, status_, finished_;
    // The stand-in the source last entered by, if it did, and whether that source heeds answers
    // in the proxy's name only.
    xcb_window_t standInEntered_ = XCB_NONE;
    bool heedsTheProxy_ = false;
    xcb_atom_t move_, copy_;
    // The window the source last entered, whether a position for it has reached Qt since and
    // where, and the action the last position proposed (after the rewrite).
    xcb_window_t entered_ = XCB_NONE;
    bool positioned_ = false;
    uint32_t positionedAt_ = 0;
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
    watch = new OfferWatch(connection);
    QCoreApplication::instance()->installNativeEventFilter(watch);
}

std::optional<Qt::DropAction> action(Qt::DropActions possible)
{
    for (auto action : {Qt::CopyAction, Qt::LinkAction})
        if (possible & action)
            return action;
    // Qt reads the positions waiting in its queue as one, the newest, which this watch never saw
    // and could not make a copy of: a move alone is then offered. Through the stand-in the source
    // is told of a copy whatever Qt answers, so the move is taken as that copy.
    if ((possible & Qt::MoveAction) && watch && watch->answeredByTheStandIn())
        return Qt::CopyAction;
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

namespace {

// ShapeInput of the X shape extension, which XFixes sets a region for.
constexpr uint8_t inputShape = 2;
constexpr uint32_t xdndVersion = 5;

}

namespace DropOffers {

DropArea::DropArea(QWidget* window) : QObject(window), window_(window)
{
    auto* connection = X11Properties::connection();
    if (!connection)
        return;
    takeMovesAsCopies();
    const auto target = xcb_window_t(window->winId());
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    standIn_ = xcb_generate_id(connection);
    const uint32_t overrideRedirect = 1;
    xcb_create_window(connection, 0, standIn_, screens.data->root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
        XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
    const auto proxy = X11Properties::atom(connection, "XdndProxy");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, standIn_, X11Properties::atom(connection, "XdndAware"),
        XCB_ATOM_ATOM, 32, 1, &xdndVersion);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, standIn_, proxy, XCB_ATOM_WINDOW, 32, 1, &target);
    // A proxy names itself, or Qt's sources take it for a stale one.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, target, proxy, XCB_ATOM_WINDOW, 32, 1, &target);
    free(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
    standIns()[standIn_] = this;
    window->installEventFilter(this);
}

DropArea::~DropArea()
{
    if (auto* connection = X11Properties::connection(); connection && standIn_) {
        standIns().erase(standIn_);
        xcb_destroy_window(connection, standIn_);
        xcb_flush(connection);
    }
}

bool DropArea::holds(int x, int y) const
{
    const double ratio = window_->devicePixelRatioF();
    return area_.contains(window_->mapFromGlobal(QPointF(x / ratio, y / ratio)).toPoint());
}

void DropArea::setArea(const QRegion& area)
{
    area_ = area;
    held_ = true;
    if (window_->isVisible())
        place();
}

bool DropArea::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ZOrderChange:
        // A raise puts the window on top and leaves the stand-in behind: it follows again.
        if (window_->isVisible() || event->type() == QEvent::Show)
            place();
        break;
    case QEvent::Hide: withdraw(); break;
    default: break;
    }
    return false;
}

void DropArea::withdraw()
{
    held_ = false;
    if (auto* connection = X11Properties::connection(); connection && standIn_) {
        xcb_unmap_window(connection, standIn_);
        xcb_flush(connection);
    }
}

void DropArea::place()
{
    auto* connection = X11Properties::connection();
    if (!connection || !standIn_)
        return;
    if (!held_ || area_.isEmpty())
        return withdraw();
    const double ratio = window_->devicePixelRatioF();
    const QRect frame = window_->geometry();
    std::vector<xcb_rectangle_t> rects;
    for (const QRect& rect : area_.intersected(QRect(QPoint(), frame.size())))
        rects.push_back({int16_t(rect.x() * ratio), int16_t(rect.y() * ratio), uint16_t(rect.width() * ratio),
            uint16_t(rect.height() * ratio)});
    const auto region = xcb_generate_id(connection);
    xcb_xfixes_create_region(connection, region, uint32_t(rects.size()), rects.data());
    xcb_xfixes_set_window_shape_region(connection, standIn_, inputShape, 0, 0, region);
    xcb_xfixes_destroy_region(connection, region);
    const uint32_t geometry[] = {uint32_t(int32_t(frame.x() * ratio)), uint32_t(int32_t(frame.y() * ratio)),
        uint32_t(std::max(1, int(frame.width() * ratio))), uint32_t(std::max(1, int(frame.height() * ratio)))};
    xcb_configure_window(connection, standIn_,
        XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, geometry);
    // Above the window: a source then meets the stand-in wherever the area reaches, painted or
    // not, and never goes from one to the other (each a target of its own to the source) while the
    // window is dealt; the window takes the input itself only outside the area.
    const uint32_t stacking[] = {uint32_t(window_->winId()), XCB_STACK_MODE_ABOVE};
    xcb_configure_window(connection, standIn_, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, stacking);
    xcb_map_window(connection, standIn_);
    xcb_flush(connection);
}

}
