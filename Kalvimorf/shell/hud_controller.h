#pragma once

#include "core/jobs/job.h"

#include <QObject>
#include <QRectF>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class JobStore;

// Follows the job list with the floating progress panel: in while there are jobs and the user has
// not hidden it, resized to the rows, out when the list empties; finished jobs are cleared 6 s
// after the last change once nothing runs. Nothing calls it after construction: the store and the
// "hudHidden" switch drive it. Main thread only.
class HudController : public QObject {
public:
    // The panel on the desktop (HudPanel); tests fake it.
    class Window {
    public:
        virtual ~Window() = default;
        // From 12 points above `target` at opacity 0 to `target` at opacity 1, 0.32 s.
        virtual void enter(QRectF target) = 0;
        // From where it is to `target`, 0.28 s.
        virtual void move(QRectF target) = 0;
        // 10 points up while fading out, 0.2 s, then `done`.
        virtual void leave(std::function<void()> done) = 0;
        virtual void orderOut() = 0;
        // The primary screen's area less panels and docks; nothing without a screen.
        virtual std::optional<QRectF> screenArea() const = 0;
    };
    // One pending task at a time; a new one replaces it.
    class Scheduler {
    public:
        virtual ~Scheduler() = default;
        virtual void after(double seconds, std::function<void()> work) = 0;
        virtual void cancel() = 0;
    };

    // The desktop's panel and Qt's timers when null.
    explicit HudController(
        JobStore& store, std::unique_ptr<Window> window = nullptr, std::unique_ptr<Scheduler> scheduler = nullptr);
    ~HudController() override;

    // Top right of the visible area, 14 points in from the right and 10 down from the top; only
    // the bottom edge moves with the number of rows.
    static QRectF targetFrame(size_t jobCount, QRectF visible);
    // The panel's hide button: the switch goes on and everybody hears of it; the panel then
    // leaves through its own update.
    static void hideByUser();
    static void setHidden(bool hidden);

    bool isShown() const { return isShown_; }

private:
    void update(const std::vector<Job>& jobs);
    void show(const std::vector<Job>& jobs);
    void dismiss();

    JobStore& store_;
    std::unique_ptr<Window> window_;
    std::unique_ptr<Scheduler> scheduler_;
    bool isShown_ = false;
    std::optional<QRectF> shownAt_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
