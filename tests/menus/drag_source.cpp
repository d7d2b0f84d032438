// A drag source as a file manager is one: a window whose left half drags the files named on the
// command line and whose right half drags only text. A real QDrag starts once the pointer has
// moved the platform's drag distance with the button down.
// Prints "ready <files x> <files y> <text x> <text y>" (global centres of the halves) once shown
// where the window manager put it,
// "drag" as a drag starts and "dropped" when it is over; with --action first, "dropped" and the
// action the target took (copy, move, link, none).

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <string>

namespace {

bool reportAction = false;

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
    int first = 1;
    for (; first < argc; ++first) {
        const std::string option = argv[first];
        if (option == "--action")
            reportAction = true;
        else
            break;
    }
    for (int i = first; i < argc; ++i)
        urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    // The file names stay with us: Qt's X11 plugin would take words like -display from them.
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    QApplication app(appArgc, appArgv);
    Source source(urls);
    source.show();
    return app.exec();
}
