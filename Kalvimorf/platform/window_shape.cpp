#include "platform/window_shape.h"

#include "platform/x11_properties.h"

#include <QBackingStore>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

template <typename Reply>
std::unique_ptr<Reply, decltype(&std::free)> owned(Reply* reply)
{
    return {reply, &std::free};
}

}

CompositorWatch& CompositorWatch::shared()
{
    static CompositorWatch* instance = new CompositorWatch;
    return *instance;
}

CompositorWatch::CompositorWatch()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    auto* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    int screenNumber = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screenNumber))
        std::free(host);
    const std::string name = "_NET_WM_CM_S" + std::to_string(screenNumber);
    const auto atom = owned(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.c_str()), nullptr));
    if (!atom)
        return;
    selection_ = atom->atom;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;

    const auto* extension = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (extension && extension->present) {
        ownerEvent_ = uint8_t(extension->first_event + XCB_XFIXES_SELECTION_NOTIFY);
        free(xcb_xfixes_query_version_reply(
            connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        // The same notices Qt's own connection asks of this selection, so that its view is kept.
        xcb_xfixes_select_selection_input(connection, root, selection_,
            XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    // Asked after subscribing, so that a change in between is not missed.
    const auto owner
        = owned(xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection_), nullptr));
    compositing_ = owner && owner->owner != XCB_NONE;
}

bool CompositorWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !ownerEvent_)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != ownerEvent_)
        return false;
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection != selection_)
        return false;
    const bool now = notify->owner != XCB_NONE;
    if (now != compositing_) {
        compositing_ = now;
        Q_EMIT changed(now);
    }
    return false;
}

namespace {

void mapOnceAside(QWidget* window)
{
    const QPoint at = window->pos();
    window->move(-2 * window->width() - 1000, -2 * window->height() - 1000);
    window->show();
    window->hide();
    window->move(at);
}

}

void WindowShape::markUnshadowed(QWidget* window)
{
    auto* connection = X11Properties::connection();
    if (!connection)
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t type = X11Properties::atom(connection, "_NET_WM_WINDOW_TYPE_DND");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, X11Properties::atom(connection, "_NET_WM_WINDOW_TYPE"),
        XCB_ATOM_ATOM, 32, 1, &type);
    const uint32_t noShadow = 0;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, X11Properties::atom(connection, "_COMPTON_SHADOW"),
        XCB_ATOM_CARDINAL, 32, 1, &noShadow);
    mapOnceAside(window);
    QObject::connect(&CompositorWatch::shared(), &CompositorWatch::changed, window, [window](bool compositing) {
        if (compositing && !window->isVisible())
            mapOnceAside(window);
    });
}

void WindowShape::follow(QWidget* window)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        new WindowShape(window);
}

WindowShape::WindowShape(QWidget* window) : QObject(window), window_(window)
{
    window->installEventFilter(this);
    connect(&CompositorWatch::shared(), &CompositorWatch::changed, this, [this](bool compositing) {
        if (compositing)
            apply(QRegion());
        else
            reshape(Source::backingStore);
    });
}

bool WindowShape::eventFilter(QObject* watched, QEvent* event)
{
    // Repaints come as update requests to the window, and on exposure as expose events to its
    // native window: each is handed on first, and the shape is cut from what it painted.
    const bool repaint = (watched == window_ && event->type() == QEvent::UpdateRequest)
        || (watched == window_->windowHandle() && event->type() == QEvent::Expose);
    if (watched == window_ && event->type() == QEvent::Show && window_->windowHandle()) {
        window_->windowHandle()->installEventFilter(this);
        // Shown before it is mapped: shaped by a paint off screen first, or its first frame on
        // screen would be the whole black rectangle.
        if (!CompositorWatch::shared().compositing())
            reshape(Source::offscreen);
    }
    if (!repaint || delivering_ || CompositorWatch::shared().compositing())
        return false;
    delivering_ = true;
    QCoreApplication::sendEvent(watched, event);
    delivering_ = false;
    reshape(Source::backingStore);
    return true;
}

void WindowShape::reshape(Source source)
{
    if (CompositorWatch::shared().compositing() || !window_->isVisible())
        return;
    QRegion shape;
    auto* store = window_->backingStore();
    auto* device = store && source == Source::backingStore ? store->paintDevice() : nullptr;
    const double ratio = window_->devicePixelRatioF();
    if (device && device->devType() == QInternal::Image && static_cast<QImage*>(device)->hasAlphaChannel()) {
        shape = opaqueRegion(*static_cast<QImage*>(device));
    } else {
        // Not painted yet, or a backing store without alpha: the window painted off screen.
        QImage image((QSizeF(window_->size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        window_->render(&image, {}, {}, QWidget::DrawChildren);
        shape = opaqueRegion(image);
    }
    if (ratio != 1)
        shape = QTransform::fromScale(1 / ratio, 1 / ratio).map(shape);
    // An empty shape would be no shape at all: the whole rectangle. One pixel stands for nothing.
    if (shape.isEmpty())
        shape = QRegion(0, 0, 1, 1);
    apply(shape);
}

void WindowShape::apply(const QRegion& shape)
{
    auto* handle = window_->windowHandle();
    if (!handle || (shape == shape_ && shaped_ == !shape.isEmpty()))
        return;
    shape_ = shape;
    shaped_ = !shape.isEmpty();
    handle->setMask(shape);
}

QRegion WindowShape::opaqueRegion(const QImage& source)
{
    const QImage image
        = source.format() == QImage::Format_ARGB32_Premultiplied || source.format() == QImage::Format_ARGB32
        ? source
        : source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = image.width(), height = image.height();
    // Which pixels of a row are at least half opaque, with a row of none above and below.
    auto halfOpaque = [&](int y, std::vector<char>& row) {
        row.assign(size_t(width), 0);
        if (y < 0 || y >= height)
            return;
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            row[size_t(x)] = qAlpha(line[x]) >= 128;
    };
    std::vector<char> above, here, below;
    halfOpaque(-1, above);
    halfOpaque(0, here);
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> previous, runs;
    size_t band = 0;  // where the rectangles of the previous row's band start
    for (int y = 0; y < height; ++y) {
        halfOpaque(y + 1, below);
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        // The server shows a kept pixel's colour as painted over black: a partly transparent one
        // on the edge of what is kept (an antialiased rim) would be a dark line round the shape,
        // so the edge keeps only what is opaque and the desktop shows beyond it.
        auto kept = [&](int x) {
            if (!here[size_t(x)])
                return false;
            if (qAlpha(line[x]) == 255)
                return true;
            return x > 0 && here[size_t(x - 1)] && x + 1 < width && here[size_t(x + 1)] && above[size_t(x)]
                && below[size_t(x)];
        };
        runs.clear();
        for (int x = 0; x < width;) {
            while (x < width && !kept(x))
                ++x;
            const int start = x;
            while (x < width && kept(x))
                ++x;
            if (x > start)
                runs.emplace_back(start, x - start);
        }
        std::swap(above, here);
        std::swap(here, below);
        if (!runs.empty() && runs == previous) {
            for (size_t i = band; i < rects.size(); ++i)
                rects[i].setBottom(y);
            continue;
        }
        band = rects.size();
        for (const auto& [x, w] : runs)
            rects.emplace_back(x, y, w, 1);
        std::swap(previous, runs);
    }
    QRegion region;
    if (!rects.empty())
        region.setRects(rects.data(), int(rects.size()));
    return region;
}
