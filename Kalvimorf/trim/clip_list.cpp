#include "trim/clip_list.h"

#include "core/engines/time_text.h"
#include "core/state/media_clock.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace ClipRows {

QString status(const TrimClip& clip)
{
    if (!clip.loaded())
        return QStringLiteral("carregando…");
    if (clip.segments().size() < 2)
        return QString::fromStdString(TimeText::format(clip.current().start)) + " \u2013 "
            + QString::fromStdString(TimeText::format(clip.current().end));
    return QString::number(clip.segments().size()) + " trechos · "
        + QString::fromStdString(TimeText::format(clip.kept()));
}

double selectionAt(double elapsed, bool on)
{
    const double t = std::clamp(elapsed / 0.18, 0.0, 1.0);
    const double eased = 1 - (1 - t) * (1 - t);
    return on ? eased : 1 - eased;
}

double scissorsAt(double elapsed, bool on)
{
    // The step response of a spring: 2π / response rad/s, damping fraction 0.7.
    const double omega = 2 * M_PI / 0.3, zeta = 0.7, damped = omega * std::sqrt(1 - zeta * zeta);
    const double t = std::max(elapsed, 0.0);
    const double x = t > 1
        ? 1
        : 1 - std::exp(-zeta * omega * t) * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
    return on ? x : 1 - x;
}

void paint(QPainter& painter, const TrimClip& clip, RowLook look, const QRectF& row, const QColor& accent,
    const QColor& primary)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (look.selected > 0) {
        auto fill = accent;
        fill.setAlphaF(float(0.18 * std::clamp(look.selected, 0.0, 1.0)));
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(row, 8, 8);
    }
    const auto inner = row.adjusted(6, 6, -6, -6);
    const QRectF box(inner.left(), inner.center().y() - 18, 56, 36);
    QPainterPath shape;
    shape.addRoundedRect(box, 5, 5);
    auto back = primary;
    back.setAlphaF(0.08f);
    painter.fillPath(shape, back);
    auto secondary = primary;
    secondary.setAlphaF(0.55f);
    if (!clip.thumbs().empty()) {
        const auto& image = clip.thumbs().front();
        const double scale = std::max(box.width() / image.width(), box.height() / image.height());
        const QSizeF seen(box.width() / scale, box.height() / scale);
        painter.save();
        painter.setClipPath(shape);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(box, image,
            QRectF(
                (image.width() - seen.width()) / 2, (image.height() - seen.height()) / 2, seen.width(), seen.height()));
        painter.restore();
    } else {
        TrimPaint::symbol(painter, clip.isVideo ? TrimPaint::Symbol::film : TrimPaint::Symbol::waveform,
            QRectF(box.center().x() - 9, box.center().y() - 9, 18, 18), secondary);
    }

    const double textLeft = box.right() + 10;
    const double scissors = look.scissors > 0.001 ? 21 : 0;
    const double textWidth = std::max(inner.right() - textLeft - scissors, 10.0);
    const auto nameFont = TrimPaint::font(12, QFont::Medium);
    const auto statusFont = TrimPaint::font(11);
    const QFontMetricsF nameMetrics(nameFont), statusMetrics(statusFont);
    const double top = inner.center().y() - (nameMetrics.height() + 2 + statusMetrics.height()) / 2;
    painter.setFont(nameFont);
    painter.setPen(primary);
    painter.drawText(QRectF(textLeft, top, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
        nameMetrics.elidedText(QString::fromStdString(clip.url.filename().string()), Qt::ElideMiddle, textWidth));
    painter.setFont(statusFont);
    painter.setPen(secondary);
    painter.drawText(QRectF(textLeft, top + nameMetrics.height() + 2, textWidth, statusMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter, status(clip));
    if (clip.isTrimmed())
        TrimPaint::symbol(
            painter, TrimPaint::Symbol::scissors, QRectF(inner.right() - 11, inner.center().y() - 5.5, 11, 11), accent);
    painter.restore();
}

}

ClipList::ClipList(TrimSession& session, QWidget* parent) : QWidget(parent), session_(session)
{
    frames_.setInterval(16);
    connect(&frames_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

ClipRows::RowLook ClipList::lookOf(const TrimClip& clip, bool selected, double now)
{
    auto [found, fresh] = motions_.try_emplace(clip.id);
    auto& motion = found->second;
    if (fresh) {
        // What a row shows when the list first appears stands still.
        motion.selected = selected;
        motion.trimmed = clip.isTrimmed();
    }
    if (motion.selected != selected) {
        motion.selected = selected;
        motion.selectedAt = now;
    }
    if (motion.trimmed != clip.isTrimmed()) {
        motion.trimmed = clip.isTrimmed();
        motion.trimmedAt = now;
    }
    return {ClipRows::selectionAt(now - motion.selectedAt, motion.selected),
        ClipRows::scissorsAt(now - motion.trimmedAt, motion.trimmed)};
}

QRectF ClipList::rowRect(size_t index) const
{
    return {ClipRows::padding, ClipRows::padding + double(index) * (ClipRows::height + ClipRows::spacing),
        width() - 2 * ClipRows::padding, ClipRows::height};
}

QSize ClipList::sizeHint() const
{
    const auto count = double(session_.clips().size());
    return {250, int(2 * ClipRows::padding + count * ClipRows::height + std::max(count - 1, 0.0) * ClipRows::spacing)};
}

void ClipList::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const auto accent = TrimLook::currentAccent();
    const auto primary = TrimPaint::primary(*this);
    const auto& clips = session_.clips();
    const double now = MediaClock::now();
    bool moving = false;
    // Only the rows in view: a long batch costs what shows.
    for (size_t i = 0; i < clips.size(); ++i) {
        const auto row = rowRect(i);
        const auto look = lookOf(*clips[i], clips[i]->id == session_.selectedID(), now);
        const auto& motion = motions_[clips[i]->id];
        moving = moving || now - motion.selectedAt < 0.18 || now - motion.trimmedAt < 1;
        if (row.intersects(QRectF(event->rect())))
            ClipRows::paint(painter, *clips[i], look, row, accent, primary);
    }
    if (moving && !frames_.isActive())
        frames_.start();
    else if (!moving)
        frames_.stop();
}

void ClipList::mousePressEvent(QMouseEvent* event)
{
    const auto& clips = session_.clips();
    for (size_t i = 0; i < clips.size(); ++i)
        if (rowRect(i).contains(event->position())) {
            session_.setSelectedID(clips[i]->id);
            return;
        }
}
