#pragma once

#include "shell/hud_controller.h"

#include <QHash>
#include <QTimer>
#include <QUuid>
#include <QWidget>

#include <optional>

class JobStore;
class QPropertyAnimation;
class QParallelAnimationGroup;

// The progress panel on the desktop: a frameless window over everything that never takes focus,
// painted by HudView from the store's list, with its buttons and rows answering clicks.
class HudPanel final : public QWidget, public HudController::Window {
public:
    explicit HudPanel(JobStore& store);

    void enter(QRectF target) override;
    void move(QRectF target) override;
    void leave(std::function<void()> done) override;
    void orderOut() override { hide(); }
    std::optional<QRectF> screenArea() const override;

    // Its content as a picture, for the scenarios.
    QImage snapshot();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void jobsChanged();
    double burstAge(const QUuid& id) const;
    void animate(QRectF to, double opacity, int milliseconds, const QEasingCurve& curve, std::function<void()> done);

    JobStore& store_;
    // When each row was first seen done: its sparkle plays from then, once.
    QHash<QUuid, double> doneSince_;
    // When each row was first listed: it comes in from then.
    QHash<QUuid, double> listedSince_;
    // Each ring eases from where it was to the job's new progress in 0.35 s.
    struct Ring {
        double from, to, since;
    };
    QHash<QUuid, Ring> rings_;
    double ringAt(const Ring& ring, double now) const;
    bool animating(double now) const;
    std::optional<QUuid> hoveredCancel_;
    QTimer frames_;
    QParallelAnimationGroup* animation_ = nullptr;
};
