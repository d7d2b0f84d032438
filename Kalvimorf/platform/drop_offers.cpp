#include "platform/drop_offers.h"

#include "platform/window_shape.h"
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

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
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

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* raw) { return Reply<T>(raw, &std::free); }

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    auto answer = reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
}

}

namespace DropOffers {

// The stand-ins' own connection to the X server, and the thread that serves the sources that find
// them. A source heeds only answers in the name of the window it found, and a source sent on to
// another window (XdndProxy) gets Qt's answers in that window's name, which Qt's sources of the
// Qt 5 kind and GTK's drop: so no source is sent on. The stand-in is a target of its own, and
// this thread answers every position at once, in its name, whatever Qt's event loop is busy with;
// it hands the drag on to the window as if it came from a source of ours (the sink), so that Qt's
// own answers, to the sink, reach nobody. The drop goes where the
// pointer is when it comes, not where the last position was: a source sends no position while the
// hand rests, and a position answered late may lie on a card the hand has left. The end of the
// drop is Qt's word, the window's taking or refusing it, in the stand-in's name.
class Relay {
public:
    // The one relay while any stand-in lives; nothing without an X display.
    static std::shared_ptr<Relay> shared()
    {
        static std::mutex made;
        std::lock_guard lock(made);
        if (auto relay = current().lock())
            return relay;
        auto relay = std::shared_ptr<Relay>(new Relay);
        if (!relay->start())
            return nullptr;
        current() = relay;
        return relay;
    }

    static std::weak_ptr<Relay>& current()
    {
        static std::weak_ptr<Relay> relay;
        return relay;
    }

    ~Relay()
    {
        if (thread_.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] auto written = write(stopFd_, &one, sizeof one);
            thread_.join();
        }
        if (stopFd_ >= 0)
            close(stopFd_);
        if (connection_)
            xcb_disconnect(connection_);
    }

    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t sink() const { return sink_; }

    // An input-only window that takes drags for `window` (on Qt's connection).
    xcb_window_t standIn(xcb_window_t window)
    {
        const auto made = xcb_generate_id(connection_);
        const uint32_t overrideRedirect = 1;
        xcb_create_window(connection_, 0, made, root_, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
            XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        const uint32_t version = 5;
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, made, aware_, XCB_ATOM_ATOM, 32, 1, &version);
        xcb_flush(connection_);
        std::lock_guard lock(mutex_);
        targets_[made] = {window, {}};
        return made;
    }

    void forget(xcb_window_t standIn)
    {
        xcb_destroy_window(connection_, standIn);
        xcb_flush(connection_);
        std::lock_guard lock(mutex_);
        targets_.erase(standIn);
    }

    // Where the stand-in takes drags, in the screen's pixels.
    void cover(xcb_window_t standIn, const QRegion& area)
    {
        std::lock_guard lock(mutex_);
        if (const auto found = targets_.find(standIn); found != targets_.end()) {
            found->second.area = area;
        }
    }

private:
    struct Target {
        xcb_window_t window = XCB_NONE;
        QRegion area;
    };

    // How long the window has to say whether it took a drop before the source is told it did not.
    static constexpr auto finishBound = std::chrono::seconds(5);

    Relay() = default;

    bool start()
    {
        int screenNumber = 0;
        connection_ = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection_))
            return false;
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (!screens.rem)
            return false;
        root_ = screens.data->root;
        // Once per connection before the shape of a stand-in is set.
        free(xcb_xfixes_query_version_reply(connection_,
            xcb_xfixes_query_version(connection_, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
        enter_ = internAtom(connection_, "XdndEnter");
        position_ = internAtom(connection_, "XdndPosition");
        status_ = internAtom(connection_, "XdndStatus");
        leave_ = internAtom(connection_, "XdndLeave");
        drop_ = internAtom(connection_, "XdndDrop");
        finished_ = internAtom(connection_, "XdndFinished");
        aware_ = internAtom(connection_, "XdndAware");
        typeList_ = internAtom(connection_, "XdndTypeList");
        actionList_ = internAtom(connection_, "XdndActionList");
        copy_ = internAtom(connection_, "XdndActionCopy");
        link_ = internAtom(connection_, "XdndActionLink");
        sink_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, 0, sink_, root_, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
            XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_flush(connection_);
        stopFd_ = eventfd(0, EFD_CLOEXEC);
        if (stopFd_ < 0)
            return false;
        thread_ = std::thread([this] {
            run();
        });
        return true;
    }

    void run()
    {
        for (;;) {
            while (auto* event = xcb_poll_for_event(connection_)) {
                if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE)
                    heard(*reinterpret_cast<xcb_client_message_event_t*>(event));
                std::free(event);
            }
            if (xcb_connection_has_error(connection_))
                return;
            int timeout = -1;
            if (finishTo_ != XCB_NONE) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(finishBy_ - Clock::now()).count();
                if (left <= 0) {
                    finish(false);
                    continue;
                }
                timeout = int(left);
            }
            pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (poll(fds, 2, timeout) < 0 && errno != EINTR)
                return;
            if (fds[1].revents)
                return;
        }
    }

    void heard(const xcb_client_message_event_t& message)
    {
        if (message.format != 32)
            return;
        if (message.window == sink_) {
            // Qt's answers to the positions handed on are the relay's own business: only the
            // end of a drop goes back.
            if (message.type == finished_ && finishTo_ != XCB_NONE)
                finish(message.data.data32[1] & 1);
            return;
        }
        Target target;
        {
            std::lock_guard lock(mutex_);
            const auto found = targets_.find(message.window);
            if (found == targets_.end())
                return;
            target = found->second;
        }
        const auto from = message.data.data32[0];
        if (message.type == enter_) {
            source_ = from;
            standIn_ = message.window;
            takenAs_ = copy_;
            copyProperty(typeList_);
            copyProperty(actionList_);
            handOn(message, target.window);
        } else if (message.window != standIn_ || from != source_) {
            return;
        } else if (message.type == position_) {
            const auto at = message.data.data32[2];
            const QPoint point(int(at >> 16), int(at & 0xffff));
            // Taken wherever the area reaches, whatever lies under the point now: the drop goes
            // where the pointer is when it comes, and only the window's word at the drop tells the
            // source whether it was taken. A refusal here would be the last word of a source that
            // sends no further position, and it would let go of nothing.
            const bool takes = target.area.contains(point);
            // A link asked for is a link; anything else, a move above all, is taken as a copy,
            // since nothing here ever moves a dropped file.
            takenAs_ = message.data.data32[4] == link_ ? link_ : copy_;
            answer(takes);
            auto onward = message;
            onward.data.data32[4] = takenAs_;
            handOn(onward, target.window);
        } else if (message.type == leave_) {
            handOn(message, target.window);
            source_ = standIn_ = XCB_NONE;
        } else if (message.type == drop_) {
            dropAtThePointer(message, target.window);
            source_ = standIn_ = XCB_NONE;
        }
    }

    // The source's list of types and of actions, where Qt reads them: on the sink.
    void copyProperty(xcb_atom_t property)
    {
        auto value = reply(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, source_, property, XCB_ATOM_ATOM, 0, 1024), nullptr));
        if (value && value->type == XCB_ATOM_ATOM && value->format == 32)
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, sink_, property, XCB_ATOM_ATOM, 32,
                uint32_t(xcb_get_property_value_length(value.get()) / 4), xcb_get_property_value(value.get()));
        else
            xcb_delete_property(connection_, sink_, property);
    }

    void handOn(xcb_client_message_event_t message, xcb_window_t window)
    {
        message.response_type = XCB_CLIENT_MESSAGE;
        message.window = window;
        message.data.data32[0] = sink_;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

    void tellSource(xcb_window_t source, xcb_atom_t type, uint32_t flags, uint32_t action)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = source;
        message.type = type;
        message.data.data32[0] = finishTo_ != XCB_NONE ? finishedFor_ : standIn_;
        message.data.data32[1] = flags;
        message.data.data32[type == finished_ ? 2 : 4] = action;
        xcb_send_event(connection_, 0, source, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

    // Accepted or not, and a position wanted at every move (bit 1).
    void answer(bool takes)
    {
        tellSource(source_, status_, takes ? 3 : 2, takes ? takenAs_ : xcb_atom_t(XCB_ATOM_NONE));
    }

    // The drop is handed on behind a position at the pointer, as it stands when the drop comes.
    void dropAtThePointer(const xcb_client_message_event_t& drop, xcb_window_t window)
    {
        auto pointer = reply(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
        if (pointer && pointer->same_screen) {
            xcb_client_message_event_t position = drop;
            position.type = position_;
            position.data.data32[1] = 0;
            position.data.data32[2] = uint32_t(uint16_t(pointer->root_x)) << 16 | uint16_t(pointer->root_y);
            // The drop's time, which the source hands its data for.
            position.data.data32[3] = drop.data.data32[2];
            position.data.data32[4] = takenAs_;
            handOn(position, window);
        }
        handOn(drop, window);
        finishTo_ = source_;
        finishedFor_ = standIn_;
        finishBy_ = Clock::now() + finishBound;
    }

    void finish(bool taken)
    {
        // Every position was answered as taken, and a source of GTK tells the action of the last
        // answer it had, whatever the end: a drop the window refused (the hand let go off the
        // entries) is answered as a refusal first, so that the source does not report a copy.
        if (!taken)
            tellSource(finishTo_, status_, 0, XCB_ATOM_NONE);
        tellSource(finishTo_, finished_, taken ? 1 : 0, taken ? takenAs_ : xcb_atom_t(XCB_ATOM_NONE));
        finishTo_ = finishedFor_ = XCB_NONE;
    }

    using Clock = std::chrono::steady_clock;

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    // The source's side of the drags handed on: Qt answers it, and only the relay hears.
    xcb_window_t sink_ = XCB_NONE;
    xcb_atom_t enter_ = 0, position_ = 0, status_ = 0, leave_ = 0, drop_ = 0, finished_ = 0, aware_ = 0, typeList_ = 0,
               actionList_ = 0, copy_ = 0, link_ = 0;
    int stopFd_ = -1;
    std::thread thread_;

    std::mutex mutex_;
    std::map<xcb_window_t, Target> targets_;

    // The thread's own: the drag in hand, what it is taken as, and the drop awaiting Qt's word.
    xcb_window_t source_ = XCB_NONE, standIn_ = XCB_NONE;
    xcb_atom_t takenAs_ = 0;
    xcb_window_t finishTo_ = XCB_NONE, finishedFor_ = XCB_NONE;
    Clock::time_point finishBy_;
};

}

namespace {

// The window that drags handed on by the relay come from, if a relay lives.
xcb_window_t relaySink()
{
    const auto relay = DropOffers::Relay::current().lock();
    return relay ? relay->sink() : xcb_window_t(XCB_NONE);
}

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
        if (client->type == enter_) {
            source_ = client->data.data32[0];
            fromStandIn_ = source_ == relaySink();
        } else if ((client->type == leave_ || client->type == position_ || client->type == drop_)
            && client->data.data32[0] != source_) {
            // A late word of a drag that has moved on: a source that goes from a stand-in to the
            // window itself enters it directly before the stand-in's leave, which comes the long
            // way (Relay), has been handed on. Qt would take that leave for the new drag's.
            return true;
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
        } else if (client->type == drop_ && client->window == entered_ && !fromStandIn_ && askAtThePointer(*client)) {
            return true;
        }
        // Dropped: the stand-in goes once Qt has the drop, so that the window's own next step
        // (the quality cards) takes its clicks itself.
        if (client->type == drop_)
            for (const auto& [standIn, area] : standIns())
                if (xcb_window_t(area->window()->winId()) == client->window)
                    QTimer::singleShot(0, area, &DropOffers::DropArea::withdraw);
        return false;
    }

    // Whether the drag in hand came by a stand-in, whose answers take a copy (Relay).
    bool answeredByTheStandIn() const { return fromStandIn_; }

private:
    // Qt hands a drop to the place of the last position it answered. A source sends no position
    // while the hand rests, nor while it waits for an answer, so on a busy machine (or under a
    // compositing manager, whose answers come late) the last position can lie on an entry the hand
    // has left before letting go. And Qt answers a position with the last one waiting in its queue,
    // whichever window that one is for: when a source goes from one of our windows to another
    // before the first has answered (the menu opening over the main window on a busy machine), the
    // new window may have had no position at all, and Qt would hand the drop to the old window.
    // So a drop that does not lie where the last position did is put back behind a position of
    // our own at the pointer; true when it was. (The stand-in's drops come so already, Relay.)
    bool askAtThePointer(const xcb_client_message_event_t& drop)
    {
        if (askedAgain_) {
            askedAgain_ = false;
            return false;
        }
        const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> pointer(
            xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, drop.window), nullptr), &std::free);
        const uint32_t at = pointer ? uint32_t(uint16_t(pointer->root_x)) << 16 | uint16_t(pointer->root_y) : 0;
        if (positioned_ && (!pointer || at == positionedAt_))
            return false;
        xcb_client_message_event_t position = drop;
        position.response_type = XCB_CLIENT_MESSAGE;
        position.type = position_;
        position.data.data32[1] = 0;
        position.data.data32[2] = at;
        // The drop's time, which the source hands its data for.
        position.data.data32[3] = drop.data.data32[2];
        position.data.data32[4] = proposed_ != XCB_ATOM_NONE ? proposed_ : copy_;
        xcb_client_message_event_t again = drop;
        again.response_type = XCB_CLIENT_MESSAGE;
        for (const auto* message : {&position, &again})
            xcb_send_event(
                connection_, 0, drop.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(message));
        xcb_flush(connection_);
        askedAgain_ = true;
        return true;
    }

    xcb_connection_t* connection_;
    xcb_atom_t enter_, position_, leave_, drop_;
    // The source of the drag in hand, as Qt knows it, and whether it came by a stand-in.
    xcb_window_t source_ = XCB_NONE;
    bool fromStandIn_ = false;
    xcb_atom_t move_, copy_;
    // The window the source last entered, whether a position for it has reached Qt since and
    // where, and the action the last position proposed (after the rewrite).
    xcb_window_t entered_ = XCB_NONE;
    bool positioned_ = false;
    uint32_t positionedAt_ = 0;
    // Whether the next drop is one put back behind a position at the pointer.
    bool askedAgain_ = false;
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

// Returns once the X server has carried out every request Qt has made so far, so that what the
// relay's own connection asks next comes after them.
void awaitQt()
{
    if (auto* connection = X11Properties::connection())
        free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}
}

namespace DropOffers {

DropArea::DropArea(QWidget* window) : QObject(window), window_(window)
{
    auto* connection = X11Properties::connection();
    if (!connection)
        return;
    takeMovesAsCopies();
    const auto target = xcb_window_t(window->winId());
    // The window is made on Qt's connection and stood above on the relay's: it must be there first.
    awaitQt();
    relay_ = Relay::shared();
    if (!relay_)
        return;
    standIn_ = relay_->standIn(target);
    standIns()[standIn_] = this;
    window->installEventFilter(this);
}

DropArea::~DropArea()
{
    if (relay_ && standIn_) {
        standIns().erase(standIn_);
        relay_->forget(standIn_);
    }
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
    if (relay_ && standIn_) {
        xcb_unmap_window(relay_->connection(), standIn_);
        xcb_flush(relay_->connection());
    }
}

namespace {

// A region of the window's own coordinates in the X server's pixels.
QRegion inPixels(const QRegion& region, double ratio)
{
    QRegion pixels;
    for (const QRect& rect : region)
        pixels += QRect(
            int(rect.x() * ratio), int(rect.y() * ratio), int(rect.width() * ratio), int(rect.height() * ratio));
    return pixels;
}

}

void DropArea::place()
{
    if (!relay_ || !standIn_)
        return;
    if (!held_ || area_.isEmpty())
        return withdraw();
    // Qt's requests for the window wait in its connection's buffer until its event loop flushes
    // them, while the stand-in's go out at once on the relay's. A raise tells of itself
    // (ZOrderChange) with its request still waiting: it reached the server after the stand-in's
    // stacking and buried the stand-in beneath the window, where a source over a painted card
    // went over to the window itself.
    awaitQt();
    auto* connection = relay_->connection();
    const double ratio = window_->devicePixelRatioF();
    const QRect frame = window_->geometry();
    // Under a compositing manager the window takes input all over (WindowShape), and a source
    // over a part of it outside the area would talk to the window itself, whose answers come from
    // a busy event loop: one that hears the answer for that part only once the hand rests on an
    // entry sends no further position, and its last answer, a refusal, lets go of nothing. The
    // stand-in then covers the whole window, where it takes nothing from what lies beneath.
    const QRect whole(QPoint(), frame.size());
    const QRegion held = inPixels(CompositorWatch::shared().compositing() ? whole : area_.intersected(whole), ratio);
    std::vector<xcb_rectangle_t> rects;
    for (const QRect& rect : held)
        rects.push_back({int16_t(rect.x()), int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height())});
    const QPoint origin(int(frame.x() * ratio), int(frame.y() * ratio));
    relay_->cover(standIn_, held.translated(origin));
    const auto region = xcb_generate_id(connection);
    xcb_xfixes_create_region(connection, region, uint32_t(rects.size()), rects.data());
    xcb_xfixes_set_window_shape_region(connection, standIn_, inputShape, 0, 0, region);
    xcb_xfixes_destroy_region(connection, region);
    const uint32_t geometry[] = {uint32_t(origin.x()), uint32_t(origin.y()),
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
