#pragma once

#include "shell/hud_controller.h"
#include "shell/hud_view.h"

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
    // Moving or fading in or out: what a picture shows now is not where it comes to rest.
    bool animating() const { return animation_ != nullptr; }

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
    // Each row's kind of state, its icon, and its last change of kind while the panel showed.
    struct RowState {
        Job::State::Kind kind;
        HudView::Row::Icon icon;
        std::optional<HudView::Looks::Change> change;
        double since = 0;
    };
    QHash<QUuid, RowState> states_;
    // Where each listed row belongs, and how far from there it started moving at `since`.
    struct Place {
        Job job;
        QRectF frame;
        double from = 0;
        double since = 0;
        double shift(double now) const;
    };
    QHash<QUuid, Place> places_;
    // Rows gone from the list, still drawn while they leave.
    std::vector<HudView::Looks::Leaving> leaving_;
    std::vector<double> leftAt_;
    void followRows(double now);
    bool animating(double now) const;
    void setHovered(std::optional<QUuid> hovered);
    std::optional<QUuid> hoveredCancel_;
    std::optional<QUuid> unhoveredCancel_;
    double hoverSince_ = -1e9;
    QTimer frames_;
    QParallelAnimationGroup* animation_ = nullptr;
};
