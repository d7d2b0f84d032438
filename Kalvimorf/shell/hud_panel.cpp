#include "shell/hud_panel.h"

#include "core/jobs/job_store.h"
#include "core/state/file_viewer.h"
#include "core/state/media_clock.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "shell/hud_view.h"
#include "shell/sparkle_burst.h"

#include <QEasingCurve>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QScreen>
#include <QToolTip>

#include <algorithm>

namespace {

// The curve the panel enters and moves with: quick out of the start, settling softly.
QEasingCurve entryCurve()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.2, 0.9), QPointF(0.25, 1.0), QPointF(1, 1));
    return curve;
}

}

HudPanel::HudPanel(JobStore& store)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      store_(store)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setMouseTracking(true);
    setWindowTitle("Brivlon");
    frames_.setInterval(1000 / 60);
    connect(&frames_, &QTimer::timeout, this, [this] {
        update();
        if (!animating(MediaClock::now()))
            frames_.stop();
    });
    store_.subscribe(this, [this](const std::vector<Job>&) {
        jobsChanged();
    });
    connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, this, qOverload<>(&QWidget::update));
}

double HudPanel::ringAt(const Ring& ring, double now) const
{
    return ring.from + (ring.to - ring.from) * Draw::easeOutCubic(Draw::clamp01((now - ring.since) / 0.35));
}

bool HudPanel::animating(double now) const
{
    // A spinner turns, a ring eases, a row comes in or a sparkle plays.
    const auto& jobs = store_.jobs();
    return std::any_of(jobs.begin(), jobs.end(), [](const Job& job) {
        return job.isRunning() && job.started && !job.progress;
    }) || std::any_of(doneSince_.begin(), doneSince_.end(), [now](double since) {
        return now - since < SparkleBurst::duration;
    }) || std::any_of(rings_.begin(), rings_.end(), [now](const Ring& ring) {
        return now - ring.since < 0.35;
    }) || std::any_of(listedSince_.begin(), listedSince_.end(), [now](double since) {
        return now - since < 0.3;
    });
}

void HudPanel::jobsChanged()
{
    const double now = MediaClock::now();
    for (const auto& job : store_.jobs()) {
        if (job.state.is(Job::State::Kind::done) && !doneSince_.contains(job.id))
            doneSince_.insert(job.id, now);
        if (!listedSince_.contains(job.id))
            // Rows already there when the panel comes in need no entry of their own.
            listedSince_.insert(job.id, isVisible() ? now : now - 1);
        if (job.progress) {
            const auto ring = rings_.find(job.id);
            if (ring == rings_.end())
                rings_.insert(job.id, {*job.progress, *job.progress, now});
            else if (ring->to != *job.progress)
                *ring = {ringAt(*ring, now), *job.progress, now};
        }
    }
    auto forgetGone = [this](auto& table) {
        for (auto it = table.begin(); it != table.end();)
            it = std::any_of(store_.jobs().begin(), store_.jobs().end(),
                     [&](const Job& job) {
                         return job.id == it.key();
                     })
                ? std::next(it)
                : table.erase(it);
    };
    forgetGone(doneSince_);
    forgetGone(listedSince_);
    forgetGone(rings_);
    if (animating(now))
        frames_.start();
    update();
}

double HudPanel::burstAge(const QUuid& id) const
{
    const auto since = doneSince_.find(id);
    return since == doneSince_.end() ? SparkleBurst::duration : MediaClock::now() - *since;
}

std::optional<QRectF> HudPanel::screenArea() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen && !QGuiApplication::screens().isEmpty())
        screen = QGuiApplication::screens().front();
    if (!screen)
        return std::nullopt;
    return screen->availableGeometry();
}

void HudPanel::animate(
    QRectF to, double opacity, int milliseconds, const QEasingCurve& curve, std::function<void()> done)
{
    if (animation_)
        animation_->stop(), animation_->deleteLater();
    animation_ = new QParallelAnimationGroup(this);
    auto* frame = new QPropertyAnimation(this, "geometry");
    frame->setEndValue(to.toRect());
    auto* fade = new QPropertyAnimation(this, "windowOpacity");
    fade->setEndValue(opacity);
    for (auto* part : {frame, fade}) {
        part->setDuration(milliseconds);
        part->setEasingCurve(curve);
        animation_->addAnimation(part);
    }
    connect(animation_, &QAbstractAnimation::finished, this, [this, done] {
        animation_->deleteLater();
        animation_ = nullptr;
        if (done)
            done();
    });
    animation_->start();
}

void HudPanel::enter(QRectF target)
{
    setGeometry(target.translated(0, -12).toRect());
    setWindowOpacity(0);
    show();
    raise();
    animate(target, 1, 320, entryCurve(), nullptr);
}

void HudPanel::move(QRectF target) { animate(target, windowOpacity(), 280, entryCurve(), nullptr); }

void HudPanel::leave(std::function<void()> done)
{
    animate(QRectF(geometry()).translated(0, -10), 0, 200, QEasingCurve(QEasingCurve::InCubic), std::move(done));
}

QImage HudPanel::snapshot()
{
    QImage image(size() * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatioF());
    image.fill(Qt::transparent);
    render(&image);
    return image;
}

void HudPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const auto colours = HudView::Colours::of(Theme::isDark(this), Theme::current());
    HudView::paintBackground(painter, size(), colours);
    HudView::paint(painter, store_.jobs(), size(), colours,
        {MediaClock::now(),
            [this](const QUuid& id) {
                return burstAge(id);
            },
            hoveredCancel_,
            [this](const Job& job) {
                const auto ring = rings_.find(job.id);
                return ring == rings_.end() ? job.progress.value_or(0) : ringAt(*ring, MediaClock::now());
            },
            [this](const QUuid& id) {
                const auto since = listedSince_.find(id);
                return since == listedSince_.end() ? 1.0 : MediaClock::now() - *since;
            }});
}

void HudPanel::mouseMoveEvent(QMouseEvent* event)
{
    const auto hit = HudView::hit(HudView::layout(store_.jobs(), size()), event->position());
    std::optional<QUuid> hovered;
    if (hit.target == HudView::Target::cancelRow)
        hovered = hit.job;
    if (hovered != hoveredCancel_) {
        hoveredCancel_ = hovered;
        update();
    }
    QString tip;
    switch (hit.target) {
    case HudView::Target::hide:
        tip = "Oculta o painel; as tarefas continuam. Para ver de novo, use o ícone na barra de menus.";
        break;
    case HudView::Target::cancelRow: tip = "Cancelar esta tarefa"; break;
    case HudView::Target::row:
        for (const auto& job : store_.jobs())
            if (job.id == hit.job)
                tip = QString::fromStdString(HudView::Row::tooltip(job));
        break;
    case HudView::Target::none:
    case HudView::Target::cancelAll:
    case HudView::Target::clear: break;
    }
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), tip, this);
}

void HudPanel::leaveEvent(QEvent*)
{
    if (hoveredCancel_) {
        hoveredCancel_.reset();
        update();
    }
}

void HudPanel::mouseReleaseEvent(QMouseEvent* event)
{
    const auto hit = HudView::hit(HudView::layout(store_.jobs(), size()), event->position());
    switch (hit.target) {
    case HudView::Target::cancelAll: store_.cancelAll(); break;
    case HudView::Target::clear: store_.clearFinished(); break;
    case HudView::Target::hide: HudController::hideByUser(); break;
    case HudView::Target::cancelRow: store_.cancel(*hit.job); break;
    case HudView::Target::row:
        for (const auto& job : store_.jobs())
            if (job.id == hit.job && job.state.url
                && (job.state.is(Job::State::Kind::done) || job.state.is(Job::State::Kind::info)))
                if (auto viewer = FileViewer::shared())
                    viewer->reveal({*job.state.url});
        break;
    case HudView::Target::none: break;
    }
}
