#include "shell/hud_view.h"

#include "menus/drawing_kit.h"
#include "menus/palette.h"
#include "menus/sparkle.h"
#include "shell/sparkle_burst.h"
#include "shell/view_look.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace HudView {

namespace {

// A job at work, and the header while one is.
constexpr const char* doingMagic = "Fazendo a mágica…";

constexpr double padding = 10;
constexpr double headerHeight = 24;
constexpr double spacing = 6;
constexpr double rowHeight = 46;
constexpr double buttonSize = 18;

QString q(const std::string& text) { return QString::fromStdString(text); }

int runningCount(const std::vector<Job>& jobs)
{
    return int(std::count_if(jobs.begin(), jobs.end(), [](const Job& job) {
        return job.isRunning();
    }));
}

QFont titleFont() { return Draw::font(11, QFont::DemiBold); }
QFont buttonFont() { return Draw::font(11); }
double textWidth(const QFont& font, const std::string& text) { return QFontMetricsF(font).horizontalAdvance(q(text)); }

void stroke(
    QPainter& painter, const QPainterPath& path, const QColor& colour, double width, Qt::PenCapStyle cap = Qt::RoundCap)
{
    painter.strokePath(path, QPen(colour, width, Qt::SolidLine, cap, Qt::RoundJoin));
}

// A cross inside `rect`, in white on a filled circle or in `colour` on a ring.
void cross(QPainter& painter, const QRectF& rect, const QColor& colour, double width)
{
    QPainterPath path;
    path.moveTo(rect.topLeft());
    path.lineTo(rect.bottomRight());
    path.moveTo(rect.topRight());
    path.lineTo(rect.bottomLeft());
    stroke(painter, path, colour, width);
}

QRectF cancelBox(const QRectF& frame) { return {frame.right() - 8 - 20, frame.center().y() - 10, 20, 20}; }

void paintIcon(
    QPainter& painter, Row::Icon icon, const Job& job, const QRectF& box, const Colours& colours, const Looks& looks)
{
    const QPointF c = box.center();
    const QRectF circle(c - QPointF(9, 9), QSizeF(18, 18));
    switch (icon) {
    case Row::Icon::ring: {
        const QRectF ring = box.adjusted(4.5, 4.5, -4.5, -4.5);  // 3 padding, then half the line
        QPainterPath track;
        track.addEllipse(ring);
        stroke(painter, track, Draw::withAlpha(colours.primary, 0.15), 3, Qt::FlatCap);
        QPainterPath arc;
        arc.arcMoveTo(ring, 90);
        const double progress = looks.ringProgress ? looks.ringProgress(job) : job.progress.value_or(0);
        arc.arcTo(ring, 90, -360 * std::clamp(progress, 0.0, 1.0));
        if (progress > 0)
            stroke(painter, arc, colours.accent, 3);
        break;
    }
    case Row::Icon::spinner: {
        // Eight spokes, the brightest turning once a second.
        const int lead = int(std::floor(looks.now * 8)) % 8;
        for (int i = 0; i < 8; ++i) {
            const double a = i * M_PI / 4;
            const QPointF dir(std::sin(a), -std::cos(a));
            QPainterPath spoke;
            spoke.moveTo(c + dir * 4);
            spoke.lineTo(c + dir * 8);
            const double fade = 1 - ((lead - i + 8) % 8) / 8.0;
            stroke(painter, spoke, Draw::withAlpha(colours.secondary, 0.25 + 0.75 * fade), 2);
        }
        break;
    }
    case Row::Icon::clock: {
        QPainterPath face;
        face.addEllipse(circle.adjusted(1, 1, -1, -1));
        face.moveTo(c);
        face.lineTo(c + QPointF(0, -5));
        face.moveTo(c);
        face.lineTo(c + QPointF(3.5, 0));
        stroke(painter, face, colours.secondary, 1.6);
        break;
    }
    case Row::Icon::star:
        painter.fillPath(Sparkle::path(QRectF(c - QPointF(10, 10), QSizeF(20, 20))), colours.accent);
        break;
    case Row::Icon::failed: {
        QPainterPath triangle;
        triangle.moveTo(c + QPointF(0, -8));
        triangle.lineTo(c + QPointF(9, 7.5));
        triangle.lineTo(c + QPointF(-9, 7.5));
        triangle.closeSubpath();
        painter.fillPath(triangle, QColor(255, 149, 0));
        QPainterPath mark;
        mark.moveTo(c + QPointF(0, -3));
        mark.lineTo(c + QPointF(0, 1.5));
        mark.moveTo(c + QPointF(0, 4.6));
        mark.lineTo(c + QPointF(0, 4.8));
        stroke(painter, mark, Qt::white, 2);
        break;
    }
    case Row::Icon::info: {
        QPainterPath ring, tick;
        ring.addEllipse(circle);
        tick.moveTo(c + QPointF(-4, 0.5));
        tick.lineTo(c + QPointF(-1, 3.5));
        tick.lineTo(c + QPointF(4.5, -3));
        stroke(painter, ring, colours.accent, 1.6);
        stroke(painter, tick, colours.accent, 1.8);
        break;
    }
    case Row::Icon::cancelled: {
        QPainterPath ring;
        ring.addEllipse(circle);
        stroke(painter, ring, colours.secondary, 1.6);
        cross(painter, QRectF(c - QPointF(3.5, 3.5), QSizeF(7, 7)), colours.secondary, 1.8);
        break;
    }
    }
}

// Draws `paint` about `centre` as `look` says.
void withAppearance(QPainter& painter, QPointF centre, const Appearance& look, const std::function<void()>& paint)
{
    if (look.opacity <= 0 || look.scale <= 0)
        return;
    painter.save();
    painter.setOpacity(painter.opacity() * std::min(look.opacity, 1.0));
    painter.translate(centre);
    painter.rotate(look.rotation);
    painter.scale(look.scale, look.scale);
    painter.translate(-centre);
    paint();
    painter.restore();
}

// `hover` runs from 0 (at rest) to 1 (under the pointer): red and 12 % larger.
void paintCancel(QPainter& painter, const QRectF& box, double hover, const Colours& colours)
{
    painter.save();
    painter.translate(box.center());
    const double grow = 1 + 0.12 * hover;
    painter.scale(grow, grow);
    QPainterPath disc;
    disc.addEllipse(QPointF(0, 0), 8.5, 8.5);
    painter.fillPath(disc, Draw::blended(Draw::withAlpha(colours.secondary, 0.55), hover, QColor(255, 59, 48)));
    cross(painter, QRectF(-3.2, -3.2, 6.4, 6.4), Qt::white, 1.8);
    painter.restore();
}

double hoverOf(const QUuid& id, const Looks& looks)
{
    if (looks.hoveredCancel == id)
        return Motion::hover(looks.hoverAge);
    if (looks.unhoveredCancel == id)
        return 1 - Motion::hover(looks.hoverAge);
    return 0;
}

// The icon, the texts and the cancel button of one row, in place and at rest apart from the
// row's own change of state.
void paintRow(QPainter& painter, const Job& job, const Layout::RowBox& row, const Colours& colours, const Looks& looks)
{
    QPainterPath ground;
    ground.addRoundedRect(row.frame, 9, 9);
    painter.fillPath(ground, Draw::withAlpha(colours.primary, 0.06));

    const auto change = looks.stateChange ? looks.stateChange(job.id) : std::nullopt;
    const double p = change ? Motion::row(change->age) : 1;
    const auto icon = Row::icon(job);
    const QPointF c = row.icon.center();
    if (icon == Row::Icon::star) {
        // Behind the star, spilling over the row.
        SparkleBurst::paint(
            painter, c, looks.burstAge ? looks.burstAge(job.id) : SparkleBurst::duration, colours.accent);
    }
    if (change && change->icon != icon)
        if (const auto out = iconAppearance(change->icon, 1 - p))
            withAppearance(painter, c, *out, [&] {
                paintIcon(painter, change->icon, job, row.icon, colours, looks);
            });
    withAppearance(painter, c, iconAppearance(icon, p).value_or(Appearance{}), [&] {
        paintIcon(painter, icon, job, row.icon, colours, looks);
    });

    const double textLeft = row.icon.right() + 10;
    const double textRight = (row.cancel ? row.cancel->left() - 10 : row.frame.right() - 8);
    const QFont titleFont = Draw::font(12, QFont::DemiBold), subtitleFont = Draw::font(11);
    const QFontMetricsF titleMetrics(titleFont), subtitleMetrics(subtitleFont);
    const double block = titleMetrics.height() + 2 + subtitleMetrics.height();
    const double top = row.frame.center().y() - block / 2;
    painter.setFont(titleFont);
    painter.setPen(colours.primary);
    painter.drawText(QPointF(textLeft, top + titleMetrics.ascent()),
        titleMetrics.elidedText(q(Row::title(job)), Qt::ElideMiddle, textRight - textLeft));
    painter.setFont(subtitleFont);
    painter.setPen(colours.secondary);
    painter.drawText(QPointF(textLeft, top + titleMetrics.height() + 2 + subtitleMetrics.ascent()),
        subtitleMetrics.elidedText(q(Row::subtitle(job)), Qt::ElideRight, textRight - textLeft));

    // The cancel button comes with the running state and goes with it.
    const bool running = job.isRunning();
    const bool cancelMoves = change && change->wasRunning != running;
    if (running || cancelMoves) {
        const QRectF box = row.cancel.value_or(cancelBox(row.frame));
        withAppearance(painter, box.center(), cancelMoves ? cancelAppearance(running ? p : 1 - p) : Appearance{}, [&] {
            paintCancel(painter, box, hoverOf(job.id, looks), colours);
        });
    }
}

// An eye with a stroke through it: hide the panel.
void paintHideButton(QPainter& painter, const QRectF& box, const Colours& colours)
{
    const QPointF c = box.center();
    QPainterPath eye;
    eye.moveTo(c + QPointF(-7, 0));
    eye.quadTo(c + QPointF(0, -8), c + QPointF(7, 0));
    eye.quadTo(c + QPointF(0, 8), c + QPointF(-7, 0));
    eye.addEllipse(c, 2.2, 2.2);
    eye.moveTo(c + QPointF(-6, -6));
    eye.lineTo(c + QPointF(6, 6));
    stroke(painter, eye, colours.secondary, 1.4);
}

}

Entry entry(double age)
{
    // About the panel's own spring (0.38 s, well damped): most of the way in a quarter second.
    const double t = Draw::easeOutCubic(Draw::clamp01(age / 0.3));
    return {t, (1 - t) * 12};
}

namespace Motion {

double list(double t) { return springProgress(t, 0.38, 0.86); }
double row(double t) { return springProgress(t, 0.4, 0.7); }
double hover(double t) { return springProgress(t, 0.25, 0.6); }
double settled() { return std::max({springSettled(0.38, 0.86), springSettled(0.4, 0.7), springSettled(0.25, 0.6)}); }

}

std::optional<Appearance> iconAppearance(Row::Icon icon, double p)
{
    const double fade = Draw::clamp01(p);
    auto scaled = [&](double from) {
        return Appearance{from + (1 - from) * p, fade, 0};
    };
    switch (icon) {
    case Row::Icon::spinner: return std::nullopt;
    case Row::Icon::ring:
    case Row::Icon::clock: return Appearance{1, fade, 0};
    // A quarter turn into place as it grows.
    case Row::Icon::star: return Appearance{0.2 + 0.8 * p, fade, -90 * (1 - p)};
    case Row::Icon::failed:
    case Row::Icon::info:
    case Row::Icon::cancelled: return scaled(0.4);
    }
    return Appearance{};
}

Appearance cancelAppearance(double p) { return {0.5 + 0.5 * p, Draw::clamp01(p), 0}; }

Appearance leavingAppearance(double p) { return {1 - 0.04 * p, Draw::clamp01(1 - p), 0}; }

double height(size_t jobCount)
{
    const double k = double(std::min<size_t>(jobCount, shownRows));
    return spacing * (k - 1) + (headerHeight + spacing + rowHeight * k) + 2 * padding;
}

std::string headerTitle(const std::vector<Job>& jobs)
{
    const int running = runningCount(jobs);
    if (running == 0)
        return "Brivlon!";
    if (running == 1)
        return doingMagic;
    return "Fazendo " + std::to_string(running) + " mágicas…";
}

std::optional<std::string> overflow(const std::vector<Job>& jobs)
{
    if (jobs.size() <= size_t(shownRows))
        return std::nullopt;
    return "+" + std::to_string(jobs.size() - shownRows);
}

std::vector<Job> shown(const std::vector<Job>& jobs)
{
    return {jobs.end() - std::min<ptrdiff_t>(ptrdiff_t(jobs.size()), shownRows), jobs.end()};
}

namespace Row {

std::string title(const Job& job) { return job.target.empty() ? job.sourceName : job.sourceName + " → " + job.target; }

std::string subtitle(const Job& job)
{
    using Kind = Job::State::Kind;
    switch (job.state.kind) {
    case Kind::done: return "Brivlon! " + job.state.url.value_or("").filename().string() + " · clique para ver";
    case Kind::failed:
    case Kind::info: return job.state.message;
    case Kind::cancelled: return "Cancelado";
    case Kind::running:
        if (job.progress)
            return std::string(doingMagic) + " " + std::to_string(int(*job.progress * 100)) + "%";
        return job.started ? doingMagic : "Esperando a vez no palco…";
    }
    return {};
}

std::string tooltip(const Job& job) { return job.state.is(Job::State::Kind::failed) ? job.state.message : ""; }

Icon icon(const Job& job)
{
    using Kind = Job::State::Kind;
    switch (job.state.kind) {
    case Kind::running:
        if (job.progress)
            return Icon::ring;
        return job.started ? Icon::spinner : Icon::clock;
    case Kind::done: return Icon::star;
    case Kind::failed: return Icon::failed;
    case Kind::info: return Icon::info;
    case Kind::cancelled: return Icon::cancelled;
    }
    return Icon::clock;
}

}

Colours Colours::of(bool dark, AppTheme theme)
{
    const QColor primary = dark ? QColor(255, 255, 255) : QColor(0, 0, 0);
    return {dark ? QColor(40, 40, 44, 235) : QColor(246, 246, 248, 240), Draw::withAlpha(primary, 0.88),
        Draw::withAlpha(primary, 0.55), Draw::withAlpha(primary, 0.3),
        Theme::palette(dark, theme).metal(WheelMode::convert)};
}

Layout layout(const std::vector<Job>& jobs, QSizeF size)
{
    Layout result;
    const double left = padding + 4, right = size.width() - padding - 4;
    const double headerTop = padding;
    auto headerBox = [&](double x, double w) {
        return QRectF(x, headerTop, w, headerHeight);
    };
    result.title = headerBox(left, textWidth(titleFont(), headerTitle(jobs)));
    if (const auto more = overflow(jobs))
        result.overflow = headerBox(result.title.right() + 8, textWidth(buttonFont(), *more));
    double x = right - buttonSize;
    result.hide = headerBox(x, buttonSize);
    const bool anyFinished = std::any_of(jobs.begin(), jobs.end(), [](const Job& job) {
        return !job.isRunning();
    });
    if (anyFinished) {
        const double w = textWidth(buttonFont(), "Limpar");
        x -= 8 + w;
        result.clear = headerBox(x, w);
    }
    if (runningCount(jobs) >= 2) {
        const double w = textWidth(buttonFont(), "Cancelar tudo");
        x -= 8 + w;
        result.cancelAll = headerBox(x, w);
    }
    double y = padding + headerHeight + spacing;
    for (const auto& job : shown(jobs)) {
        result.rows.push_back(rowBox(job, QRectF(padding, y, size.width() - 2 * padding, rowHeight)));
        y += rowHeight + spacing;
    }
    return result;
}

Layout::RowBox rowBox(const Job& job, QRectF frame)
{
    Layout::RowBox row{job.id, frame, QRectF(frame.left() + 8, frame.center().y() - 13, 26, 26), std::nullopt};
    if (job.isRunning())
        row.cancel = cancelBox(frame);
    return row;
}

Hit hit(const Layout& layout, QPointF point)
{
    auto in = [point](const std::optional<QRectF>& rect) {
        return rect && rect->adjusted(-3, -3, 3, 3).contains(point);
    };
    if (in(layout.cancelAll))
        return {Target::cancelAll, std::nullopt};
    if (in(layout.clear))
        return {Target::clear, std::nullopt};
    if (in(layout.hide))
        return {Target::hide, std::nullopt};
    for (const auto& row : layout.rows) {
        if (in(row.cancel))
            return {Target::cancelRow, row.id};
        if (row.frame.contains(point))
            return {Target::row, row.id};
    }
    return {};
}

void paintBackground(QPainter& painter, QSizeF size, const Colours& colours)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath ground;
    ground.addRoundedRect(QRectF(QPointF(0, 0), size), 14, 14);
    painter.fillPath(ground, colours.background);
    painter.restore();
}

void paint(QPainter& painter, const std::vector<Job>& jobs, QSizeF size, const Colours& colours, const Looks& looks)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const Layout boxes = layout(jobs, size);
    auto text = [&](const QRectF& rect, const std::string& words, const QFont& font, const QColor& colour) {
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, q(words));
    };
    text(boxes.title, headerTitle(jobs), titleFont(), colours.secondary);
    if (boxes.overflow)
        text(*boxes.overflow, *overflow(jobs), buttonFont(), colours.tertiary);
    if (boxes.cancelAll)
        text(*boxes.cancelAll, "Cancelar tudo", buttonFont(), QColor(255, 59, 48));
    if (boxes.clear)
        text(*boxes.clear, "Limpar", buttonFont(), colours.accent);
    paintHideButton(painter, boxes.hide, colours);

    // Rows on their way out stay where they were, under the listed ones.
    for (const auto& gone : looks.leaving) {
        const auto look = leavingAppearance(Motion::list(gone.age));
        withAppearance(painter, gone.frame.center(), look, [&] {
            paintRow(painter, gone.job, rowBox(gone.job, gone.frame), colours, looks);
        });
    }
    const auto list = shown(jobs);
    for (size_t i = 0; i < list.size(); ++i) {
        const Job& job = list[i];
        const auto& row = boxes.rows[i];
        const auto in = entry(looks.rowAge ? looks.rowAge(job.id) : 1);
        painter.save();
        painter.setOpacity(painter.opacity() * in.opacity);
        painter.translate(0, -in.offset + (looks.rowShift ? looks.rowShift(job.id) : 0));
        paintRow(painter, job, row, colours, looks);
        painter.restore();
    }
    painter.restore();
}

}
