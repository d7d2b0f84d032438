#pragma once

#include "core/base/settings.h"
#include "menus/menu_style.h"
#include "menus/wheel_entry.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class MenuSurface;

// Opens, cycles and closes the drop menu: which mode shows, whether the quality step waits, when
// to close. The windows it drives sit behind `Host`, so that the state machine runs without a
// display. Main thread only; positions are Qt's global coordinates (y down).
class WheelController {
public:
    struct Entries {
        std::vector<WheelEntry> entries;
        // Shown in place of the cards when there are none; may hold one line break.
        std::string empty;
    };
    // The cards of a mode for a selection, in display order, and what a drop on each runs. Reads
    // nothing but its arguments and the catalogues.
    static Entries entries(WheelMode mode, const WheelEntry::Paths& files);
    // The cards for files dropped by the user: none to convert or to run a tool on when one of
    // them is neither a regular file nor a folder.
    static Entries offered(WheelMode mode, const WheelEntry::Paths& files);
    // The menu's title for a mode: "Converter", "Ferramentas", "Ações".
    static std::string title(WheelMode mode);
    // The four quality cards of a group, highest first; the saved level's detail says it is the
    // default. A card's run calls `choose` with its level (nothing when empty).
    static std::vector<WheelEntry> qualityEntries(
        QualityGroup group, QualityLevel saved, std::function<void(QualityLevel)> choose = {});

    struct Screen {
        QRectF frame;
        QRectF available;  // less panels and docks
    };
    // Where the panel of `size` goes for a pointer at `point`: the surface's anchor under the
    // pointer (or, when `centred`, the middle of the pointer's screen), then kept on that screen
    // with 20 points of slack; where both edges cannot hold, the right and the top win. A point on
    // no screen is not clamped.
    static QPointF origin(QPointF point, QSizeF size, QPointF anchor, const std::vector<Screen>& screens, bool centred);

    // The menu window with both surfaces. The desktop's is WheelWindow; tests fake it.
    class Host {
    public:
        virtual ~Host() = default;
        virtual MenuSurface& surface(MenuStyle style) = 0;
        virtual QSizeF surfaceSize(MenuStyle style) const = 0;
        // Only this surface shows from now on.
        virtual void useSurface(MenuStyle style) = 0;
        virtual void setFanNumbered(bool numbered) = 0;
        virtual void setFanOpensDown(bool down) = 0;
        // The card under the files becomes the picked one, so the close shows it.
        virtual void markFanPicked() = 0;
        // Card `index` picked and highlighted, its lift animating.
        virtual void fanPick(int index) = 0;
        virtual bool panelVisible() const = 0;
        // Moves and resizes the panel and brings it up, without activating anything.
        virtual void placePanel(QRectF frame) = 0;
        // Brings the panel up where it is.
        virtual void raisePanel() = 0;
        virtual void orderOut() = 0;
        // While allowed, the panel has the keyboard and hands each key press to `handler`.
        virtual void setAllowsKey(bool allows) = 0;
        virtual void setKeyHandler(std::function<bool(int key, const QString& text)> handler) = 0;
        // Calls `clicked` for a mouse press outside the panel until stopped with nullptr.
        virtual void watchClicksOutside(std::function<void()> clicked) = 0;
        virtual std::vector<Screen> screens() const = 0;
        virtual QPointF pointer() const = 0;
    };

    // The desktop's window when `host` is null.
    explicit WheelController(std::unique_ptr<Host> host = nullptr);
    ~WheelController();
    WheelController(const WheelController&) = delete;
    WheelController& operator=(const WheelController&) = delete;

    // Separate keys: the mode's key opens that mode, closes it when it already shows, and swaps
    // an open menu to it in place.
    void trigger(WheelMode mode, const WheelEntry::Paths& urls, QPointF point);
    // The single key: opens the first mode that has cards, then moves on in place, wrapping.
    void cycle(const WheelEntry::Paths& urls, QPointF point);
    void show(WheelMode mode, const WheelEntry::Paths& urls, QPointF point, bool reposition);
    // Closes 0.25 s later unless something else happens first; nothing while the quality step waits.
    void hideSoon();
    void hide();

    // A key while the quality step waits: Escape closes, Return or Enter takes the default,
    // a digit its card. True when the key was used.
    bool handleKey(int key, const QString& text);

    // Told when the quality cards wait for a choice.
    std::function<void()> onQualityShown;

    bool choosingQuality() const { return choosingQuality_; }
    std::optional<WheelMode> mode() const { return mode_; }
    bool hidePending() const { return hideTimer_.isActive(); }
    Host& host() { return *host_; }

private:
    MenuSurface& view();
    void useStyle(MenuStyle style);
    void picked(const WheelEntry::Paths& urls, const WheelEntry& entry);
    void showQuality(QualityGroup group, const std::string& format, const WheelEntry::Paths& urls,
        std::function<void(const WheelEntry::Paths&, QualityLevel)> run);
    void chooseQuality(int index, QualityLevel level);

    std::unique_ptr<Host> host_;
    MenuStyle style_ = MenuStyle::wheel;
    std::optional<WheelMode> mode_;
    bool choosingQuality_ = false;
    std::vector<WheelEntry> qualityEntries_;
    int qualityDefault_ = 0;
    WheelEntry::Paths qualityUrls_;
    std::function<void(const WheelEntry::Paths&, QualityLevel)> qualityRun_;
    QTimer hideTimer_;
    // Closures handed to the surfaces and timers check this before touching the controller.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
