#include "trim/timeline_bar.h"

#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

TimelineState TimelineState::of(const TrimClip& clip, double playhead)
{
    return {clip.isVideo, clip.duration(), clip.thumbs(), clip.peaks(), clip.segments(), clip.active(), playhead};
}

namespace Timeline {

namespace {

constexpr double handleWidth = 14;
constexpr double handleReach = 6;

double span(double duration) { return duration > 0.001 ? duration : 0.001; }

const ClipRange& current(const TimelineState& state)
{
    return state.segments[size_t(std::clamp(state.active, 0, int(state.segments.size()) - 1))];
}

QRectF handleRect(const TimelineState& state, const QRectF& strip, bool left)
{
    const auto& range = current(state);
    const double at = strip.left() + x(left ? range.start : range.end, state.duration, strip.width());
    return {at - handleWidth / 2, strip.top(), handleWidth, strip.height()};
}

}

QRectF strip(QSizeF size)
{
    return {margin, margin, std::max(size.width() - 2 * margin, 1.0), std::max(size.height() - 2 * margin, 1.0)};
}

double x(double t, double duration, double width) { return t / span(duration) * width; }

double t(double x, double duration, double width) { return std::clamp(x, 0.0, width) / width * span(duration); }

std::vector<std::pair<double, double>> gaps(const std::vector<ClipRange>& segments, double duration)
{
    std::vector<std::pair<double, double>> list;
    double cursor = 0;
    for (const auto& range : segments) {
        if (range.start > cursor)
            list.emplace_back(cursor, range.start);
        cursor = range.end;
    }
    if (cursor < duration)
        list.emplace_back(cursor, duration);
    return list;
}

void paintWaveform(QPainter& painter, const std::vector<float>& peaks, const QRectF& area, const QColor& colour)
{
    if (peaks.empty())
        return;
    const double step = area.width() / double(peaks.size());
    const double bar = std::max(step * 0.8, 1.0);
    const double h = area.height();
    // Every bar in one call: a path of 600 subpaths goes through Qt's general rasteriser and costs
    // tens of milliseconds, the same rectangles as a list a fraction of one.
    QVector<QRectF> bars;
    bars.reserve(qsizetype(peaks.size()));
    for (size_t i = 0; i < peaks.size(); ++i) {
        const double half = std::max(h * 0.9 * double(peaks[i]) * 0.5, 1.0);
        bars.append(QRectF(area.left() + step * double(i), area.top() + h / 2 - half, bar, 2 * half));
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRects(bars);
    painter.restore();
}

void paint(QPainter& painter, const TimelineState& state, QSizeF size, const QColor& wave, const QColor& primary)
{
    const auto area = strip(size);
    const double w = area.width(), h = area.height();
    auto xAt = [&](double t) {
        return area.left() + x(t, state.duration, w);
    };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    // 1. The strip: thumbnails over the waveform for video, the waveform alone for sound.
    QPainterPath rounded;
    rounded.addRoundedRect(area, 8, 8);
    painter.save();
    painter.setClipPath(rounded);
    double waveTop = area.top();
    if (state.isVideo) {
        const QRectF row(area.left(), area.top(), w, h * 0.62);
        painter.fillRect(row, QColor(0, 0, 0, int(0.85 * 255)));
        const double cell = w / double(std::max<size_t>(state.thumbs.size(), 1));
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        for (size_t i = 0; i < state.thumbs.size(); ++i) {
            const auto& image = state.thumbs[i];
            const QRectF target(row.left() + cell * double(i), row.top(), cell, row.height());
            // Aspect fill: the middle of the image that has the cell's shape.
            const double scale = std::max(target.width() / image.width(), target.height() / image.height());
            const QSizeF seen(target.width() / scale, target.height() / scale);
            const QRectF source(
                (image.width() - seen.width()) / 2, (image.height() - seen.height()) / 2, seen.width(), seen.height());
            painter.drawImage(target, image, source);
        }
        waveTop = row.bottom();
    }
    const QRectF waveArea(area.left(), waveTop, w, area.bottom() - waveTop);
    auto faint = primary;
    faint.setAlphaF(0.05f);
    painter.fillRect(waveArea, faint);
    auto bars = wave;
    bars.setAlphaF(0.85f);
    paintWaveform(painter, state.peaks, waveArea, bars);
    painter.restore();

    // 2. What the export leaves out.
    for (const auto& [from, to] : gaps(state.segments, state.duration))
        painter.fillRect(
            QRectF(xAt(from), area.top(), std::max(xAt(to) - xAt(from), 0.0), h), QColor(0, 0, 0, int(0.55 * 255)));

    // 3. An outline per kept range, numbered when there are several.
    auto yellow = TrimPaint::yellow;
    for (size_t i = 0; i < state.segments.size(); ++i) {
        const auto& range = state.segments[i];
        const bool active = int(i) == state.active;
        yellow.setAlphaF(active ? 1.0f : 0.45f);
        painter.setPen(QPen(yellow, active ? 2 : 1.5));
        painter.setBrush(Qt::NoBrush);
        const QRectF outline(xAt(range.start), area.top(), std::max(xAt(range.end) - xAt(range.start), 2.0), h);
        painter.drawRoundedRect(outline, 6, 6);
        if (state.segments.size() < 2)
            continue;
        const auto font = TrimPaint::font(10, QFont::Bold);
        const auto text = QString::number(i + 1);
        const QFontMetricsF metrics(font);
        const QRectF tag(outline.left() + 10, outline.top() + 2, metrics.horizontalAdvance(text) + 8, metrics.height());
        yellow.setAlphaF(active ? 1.0f : 0.6f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(yellow);
        painter.drawRoundedRect(tag, 3, 3);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(tag, Qt::AlignCenter, text);
    }

    // 4. The playhead, standing out above and below the strip.
    const QRectF head(xAt(state.playhead) - 1, area.top() - 3, 2, h + 6);
    painter.fillRect(head.adjusted(-1, -1, 1, 1), QColor(0, 0, 0, int(0.33 * 255 * 0.5)));
    painter.fillRect(head, Qt::white);

    // 5, 6. The active range's handles.
    for (bool left : {true, false}) {
        const auto handle = handleRect(state, area, left);
        painter.setPen(Qt::NoPen);
        painter.setBrush(TrimPaint::yellow);
        painter.drawRoundedRect(handle, 4, 4);
        TrimPaint::symbol(painter, left ? TrimPaint::Symbol::chevronLeft : TrimPaint::Symbol::chevronRight,
            QRectF(handle.center().x() - 6.5, handle.center().y() - 6.5, 13, 13), QColor(0, 0, 0, int(0.7 * 255)));
    }
    painter.restore();
}

Hit hit(const TimelineState& state, QSizeF size, QPointF point)
{
    const auto area = strip(size);
    const auto grown = [&](bool left) {
        return handleRect(state, area, left).adjusted(-handleReach, -handleReach, handleReach, handleReach);
    };
    if (grown(false).contains(point))
        return Hit::endHandle;
    if (grown(true).contains(point))
        return Hit::startHandle;
    if (area.contains(point))
        return Hit::strip;
    return Hit::none;
}

}

TimelineBar::TimelineBar(TrimSession& session, TrimClip& clip, QWidget* parent)
    : QWidget(parent), session_(session), clip_(clip)
{
    setFixedHeight(int((clip.isVideo ? 76 : 96) + 2 * Timeline::margin));
    setMouseTracking(true);
    setMinimumWidth(200);
}

void TimelineBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Timeline::paint(painter, TimelineState::of(clip_, session_.playhead()), size(), TrimLook::currentAccent(),
        TrimPaint::primary(*this));
}

void TimelineBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = Timeline::hit(TimelineState::of(clip_, session_.playhead()), size(), event->position());
    drag(event->position());
}

void TimelineBar::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ != Timeline::Hit::none) {
        drag(event->position());
        return;
    }
    const auto over = Timeline::hit(TimelineState::of(clip_, session_.playhead()), size(), event->position());
    const bool handle = over == Timeline::Hit::startHandle || over == Timeline::Hit::endHandle;
    setCursor(handle ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void TimelineBar::mouseReleaseEvent(QMouseEvent*) { dragging_ = Timeline::Hit::none; }

void TimelineBar::drag(QPointF point)
{
    const auto area = Timeline::strip(size());
    const double t = Timeline::t(point.x() - area.left(), clip_.duration(), area.width());
    switch (dragging_) {
    case Timeline::Hit::none: return;
    case Timeline::Hit::strip:
        clip_.selectSegment(t);
        session_.seek(t);
        return;
    case Timeline::Hit::startHandle:
        clip_.setStart(t);
        session_.seek(clip_.current().start);
        return;
    case Timeline::Hit::endHandle:
        clip_.setEnd(t);
        session_.seek(clip_.current().end);
        return;
    }
}
