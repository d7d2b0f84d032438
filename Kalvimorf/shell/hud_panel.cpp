#include "shell/hud_panel.h"

#include "core/jobs/job_store.h"
#include "core/state/file_viewer.h"
#include "core/state/media_clock.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "platform/window_shape.h"
#include "platform/window_places.h"
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
    WindowShape::follow(this);
    setMouseTracking(true);
    setWindowTitle("Brivlon");
    frames_.setInterval(1000 / 60);
    connect(&frames_, &QTimer::timeout, this, [this] {
        const double now = MediaClock::now();
        for (size_t i = leftAt_.size(); i-- > 0;)
            if (now - leftAt_[i] >= HudView::Motion::settled()) {
                leftAt_.erase(leftAt_.begin() + ptrdiff_t(i));
                leaving_.erase(leaving_.begin() + ptrdiff_t(i));
            }
        update();
        if (!animating(now))
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

double HudPanel::Place::shift(double now) const { return from * (1 - HudView::Motion::list(now - since)); }

bool HudPanel::animating(double now) const
{
    const double settled = HudView::Motion::settled();
    auto recent = [&](double since) {
        return now - since < settled;
    };
    // A spinner turns, a ring eases, a row comes in, moves, changes or leaves, a sparkle plays,
    // or a cancel button answers the pointer.
    const auto& jobs = store_.jobs();
    return std::any_of(jobs.begin(), jobs.end(),
               [](const Job& job) {
                   return job.isRunning() && job.started && !job.progress;
               })
        || std::any_of(doneSince_.begin(), doneSince_.end(),
            [now](double since) {
                return now - since < SparkleBurst::duration;
            })
        || std::any_of(rings_.begin(), rings_.end(),
            [now](const Ring& ring) {
                return now - ring.since < 0.35;
            })
        || std::any_of(listedSince_.begin(), listedSince_.end(),
            [now](double since) {
                return now - since < 0.3;
            })
        || std::any_of(states_.begin(), states_.end(),
            [&](const RowState& row) {
                return row.change && recent(row.since);
            })
        || std::any_of(places_.begin(), places_.end(),
            [&](const Place& place) {
                return place.from != 0 && recent(place.since);
            })
        || std::any_of(leftAt_.begin(), leftAt_.end(), recent) || recent(hoverSince_);
}

void HudPanel::followRows(double now)
{
    // Changes while the panel is away are not seen: it comes back at rest.
    const bool seen = isVisible();
    const auto& jobs = store_.jobs();
    for (const auto& job : jobs) {
        const auto icon = HudView::Row::icon(job);
        auto row = states_.find(job.id);
        if (row == states_.end()) {
            states_.insert(job.id, {job.state.kind, icon, std::nullopt, now});
            continue;
        }
        if (row->kind != job.state.kind && seen) {
            row->change = HudView::Looks::Change{row->icon, row->kind == Job::State::Kind::running, 0};
            row->since = now;
        }
        row->kind = job.state.kind;
        row->icon = icon;
    }
    // Rows that stay but stand elsewhere now glide there from where they are drawn.
    QHash<QUuid, Place> listed;
    // The panel is always as wide; before it first shows, its size is still Qt's default.
    for (const auto& box : HudView::layout(jobs, {HudView::width, HudView::height(jobs.size())}).rows) {
        const auto job = std::find_if(jobs.begin(), jobs.end(), [&](const Job& j) {
            return j.id == box.id;
        });
        Place place{*job, box.frame, 0, now};
        if (const auto was = places_.find(box.id); was != places_.end()) {
            if (was->frame == box.frame)
                place.from = was->from, place.since = was->since;
            else if (seen)
                place.from = was->frame.top() + was->shift(now) - box.frame.top();
        } else if (seen) {
            // Back in the list (a later job went): it comes in like a new row.
            listedSince_.insert(box.id, now);
        }
        listed.insert(box.id, place);
    }
    if (seen)
        for (auto was = places_.begin(); was != places_.end(); ++was)
            if (!listed.contains(was.key())) {
                leaving_.push_back({was->job, was->frame.translated(0, was->shift(now)), 0});
                leftAt_.push_back(now);
            }
    places_ = std::move(listed);
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
    followRows(now);
    forgetGone(states_);
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
    // The jobs follow the user from one workspace to the next.
    WindowPlaces::joinAllWorkspaces(*this);
    // A panel, not a window of its own: no button in the task list.
    WindowPlaces::keepOffTaskList(*this);
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
    const double now = MediaClock::now();
    HudView::Looks looks;
    looks.now = now;
    looks.burstAge = [this](const QUuid& id) {
        return burstAge(id);
    };
    looks.hoveredCancel = hoveredCancel_;
    looks.unhoveredCancel = unhoveredCancel_;
    looks.hoverAge = now - hoverSince_;
    looks.ringProgress = [this, now](const Job& job) {
        const auto ring = rings_.find(job.id);
        return ring == rings_.end() ? job.progress.value_or(0) : ringAt(*ring, now);
    };
    looks.rowAge = [this, now](const QUuid& id) {
        const auto since = listedSince_.find(id);
        return since == listedSince_.end() ? 1.0 : now - *since;
    };
    looks.stateChange = [this, now](const QUuid& id) -> std::optional<HudView::Looks::Change> {
        const auto row = states_.find(id);
        if (row == states_.end() || !row->change)
            return std::nullopt;
        auto change = *row->change;
        change.age = now - row->since;
        return change;
    };
    looks.rowShift = [this, now](const QUuid& id) {
        const auto place = places_.find(id);
        return place == places_.end() ? 0.0 : place->shift(now);
    };
    looks.leaving = leaving_;
    for (size_t i = 0; i < leaving_.size(); ++i)
        looks.leaving[i].age = now - leftAt_[i];
    HudView::paint(painter, store_.jobs(), size(), colours, looks);
}

void HudPanel::mouseMoveEvent(QMouseEvent* event)
{
    const auto hit = HudView::hit(HudView::layout(store_.jobs(), size()), event->position());
    std::optional<QUuid> hovered;
    if (hit.target == HudView::Target::cancelRow)
        hovered = hit.job;
    setHovered(hovered);
    QString tip;
    switch (hit.target) {
    case HudView::Target::hide:
        tip = "Oculta o painel; as tarefas continuam. Para ver de novo, use o ícone na bandeja do sistema.";
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

void HudPanel::leaveEvent(QEvent*) { setHovered(std::nullopt); }

void HudPanel::setHovered(std::optional<QUuid> hovered)
{
    if (hovered == hoveredCancel_)
        return;
    unhoveredCancel_ = std::exchange(hoveredCancel_, hovered);
    hoverSince_ = MediaClock::now();
    frames_.start();
    update();
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
