#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>

#include <cstdint>

class QImage;
class QWidget;

// Whether a compositing manager runs on the X server (the screen's _NET_WM_CM_S selection has an
// owner), followed through the X server's notices of that selection changing hands. Without X
// there is nothing to follow and it counts as compositing.
class CompositorWatch final : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    static CompositorWatch& shared();
    bool compositing() const { return compositing_; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    void changed(bool compositing);

private:
    CompositorWatch();

    bool compositing_ = true;
    std::uint32_t selection_ = 0;
    std::uint8_t ownerEvent_ = 0;
};

// A translucent window on an X server without a compositing manager shows black wherever it
// left the alpha low: the server takes the colour and drops the alpha. Such a window is given
// the shape of what it painted (pixels at least half opaque) after every repaint, so the desktop
// shows through the rest; when a compositing manager arrives the shape goes, and comes back when
// it leaves.
class WindowShape final : public QObject {
public:
    // Follows `window` (a top-level widget with a translucent background) for its lifetime.
    static void follow(QWidget* window);

    // Asks compositing managers to draw no shadow under `window`, a popup that draws its own soft
    // one (the menus and the burst): they would shade its whole rectangle, a dark square under
    // the cards. It becomes a drag-and-drop window (_NET_WM_WINDOW_TYPE_DND) with picom's
    // _COMPTON_SHADOW at 0, and is mapped once out of sight, now and whenever a compositing
    // manager arrives: xcompmgr learns that a window has an alpha channel only when it maps it,
    // and one moved before that keeps the shadow of an opaque window until it is next unmapped.
    static void markUnshadowed(QWidget* window);

    // The region of `image`'s pixels with at least half alpha, in rows of runs merged where
    // neighbouring rows agree; on its edge only the opaque ones.
    static QRegion opaqueRegion(const QImage& image);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Source { backingStore, offscreen };

    explicit WindowShape(QWidget* window);
    // From what the window last painted, or from a paint off screen now.
    void reshape(Source source);
    void apply(const QRegion& shape);

    QWidget* window_;
    QRegion shape_;
    bool shaped_ = false;
    bool delivering_ = false;
};
