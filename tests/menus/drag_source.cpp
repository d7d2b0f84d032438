// A drag source as a file manager is one: a window whose left half drags the files named on the
// command line and whose right half drags only text. A real QDrag starts once the pointer has
// moved the platform's drag distance with the button down.
// Prints "ready <files x> <files y> <text x> <text y>" (global centres of the halves) once shown
// where the window manager put it,
// "drag" as a drag starts and "dropped" when it is over; with --action first, "dropped" and the
// action the target took (copy, move, link, none). With --strict it heeds no XdndStatus but one in
// the name of the window it found under the pointer, as Qt 5's sources (KDE's file manager among
// them) do: one in another window's name passes as a late answer, and a drag that had only such
// answers ends at the release with no drop.

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool reportAction = false;

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

class StatusNameCheck final : public QAbstractNativeEventFilter {
public:
    explicit StatusNameCheck(xcb_connection_t* connection)
        : connection_(connection), status_(atom("XdndStatus")), aware_(atom("XdndAware")),
          root_(xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root)
    {
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        auto* client = static_cast<xcb_client_message_event_t*>(message);
        const bool status = eventType == "xcb_generic_event_t" && (client->response_type & 0x7f) == XCB_CLIENT_MESSAGE
            && client->type == status_;
        // The name of a window that exists nowhere: Qt takes it for a late answer.
        if (status && client->data.data32[0] != found())
            client->data.data32[0] = 1;
        return false;
    }

private:
    xcb_atom_t atom(const char* name)
    {
        Reply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(
                connection_, xcb_intern_atom(connection_, 0, uint16_t(std::strlen(name)), name), nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // The first window that takes drops on the way down from the root to the pointer.
    xcb_window_t found()
    {
        for (xcb_window_t window = root_;;) {
            Reply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, window), nullptr), &std::free);
            if (!pointer || pointer->child == XCB_NONE)
                return XCB_NONE;
            window = pointer->child;
            Reply<xcb_get_property_reply_t> aware(
                xcb_get_property_reply(connection_,
                    xcb_get_property(connection_, 0, window, aware_, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr),
                &std::free);
            if (aware && aware->type != XCB_ATOM_NONE)
                return window;
        }
    }

    xcb_connection_t* connection_;
    xcb_atom_t status_, aware_;
    xcb_window_t root_;
};

class Source : public QWidget {
public:
    explicit Source(QList<QUrl> urls) : urls_(std::move(urls))
    {
        setFixedSize(400, 200);
        setWindowTitle("drag source");
        placed_.setInterval(20);
        QObject::connect(&placed_, &QTimer::timeout, this, [this] {
            announceOncePlaced();
        });
        placed_.start();
    }

private:
    // On a loaded machine the first paint can come before the window manager has framed and
    // moved the window: points taken then miss it. Framed, it stays where it is.
    void announceOncePlaced()
    {
        if (!windowHandle() || !windowHandle()->isExposed() || frameGeometry() == geometry())
            return;
        placed_.stop();
        const auto files = mapToGlobal(QPoint(width() / 4, height() / 2));
        const auto text = mapToGlobal(QPoint(width() * 3 / 4, height() / 2));
        std::printf("ready %d %d %d %d\n", files.x(), files.y(), text.x(), text.y());
        std::fflush(stdout);
    }

    QTimer placed_;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton)
            start_ = event->position().toPoint();
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || dragging_)
            return;
        if ((event->position().toPoint() - start_).manhattanLength() < QApplication::startDragDistance())
            return;
        dragging_ = true;
        auto* data = new QMimeData;
        if (start_.x() < width() / 2)
            data->setUrls(urls_);
        else
            data->setText("só texto, nenhum arquivo");
        // On the heap and left to Qt, as in a real program: the X11 drag keeps it, and with it the
        // data, until the target has fetched the files after the drop.
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        std::printf("drag\n");
        const auto action = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        // The drag's pointer grab is let go only once the requests reach the server: a driver that
        // presses again as soon as it reads "dropped" must find the pointer free. A round trip to
        // the server, not one pass of the event loop, makes sure of it on a loaded machine.
        QGuiApplication::sync();
        if (reportAction)
            std::printf("dropped %s\n",
                action == Qt::CopyAction       ? "copy"
                    : action == Qt::MoveAction ? "move"
                    : action == Qt::LinkAction ? "link"
                                               : "none");
        else
            std::printf("dropped\n");
        dragging_ = false;
    }

private:
    QList<QUrl> urls_;
    QPoint start_;
    bool dragging_ = false;
};

}

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QList<QUrl> urls;
    bool strict = false;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string option = argv[first];
        if (option == "--action")
            reportAction = true;
        else if (option == "--strict")
            strict = true;
        else
            break;
    }
    for (int i = first; i < argc; ++i)
        urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    // The file names stay with us: Qt's X11 plugin would take words like -display from them.
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    QApplication app(appArgc, appArgv);
    std::unique_ptr<StatusNameCheck> check;
    if (auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>(); x11 && strict) {
        check = std::make_unique<StatusNameCheck>(x11->connection());
        app.installNativeEventFilter(check.get());
    }
    Source source(urls);
    source.show();
    return app.exec();
}
