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

double selectionAt(double elapsed, bool on) { return TrimMotion::towards(on, elapsed, TrimMotion::selection); }

double scissorsAt(double elapsed, bool on) { return TrimMotion::towards(on, elapsed, TrimMotion::scissors); }

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
    // The text makes room for the scissors at once; they come and go in that room.
    const double scissors = clip.isTrimmed() ? 21 : 0;
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
    if (look.scissors > 0.001) {
        const double size = 11 * (0.3 + 0.7 * look.scissors);
        painter.setOpacity(TrimMotion::clamp01(look.scissors));
        TrimPaint::symbol(painter, TrimPaint::Symbol::scissors,
            QRectF(inner.right() - 5.5 - size / 2, inner.center().y() - size / 2, size, size), accent);
    }
    painter.restore();
}

}

ClipList::ClipList(TrimSession& session, QWidget* parent) : QWidget(parent), session_(session)
{
    frames_.onFrame([this] {
        update();
    });
}

void ClipList::follow()
{
    const double now = MediaClock::now();
    double moving = TrimMotion::longAgo;
    for (const auto* clip : session_.clips()) {
        const bool selected = clip->id == session_.selectedID();
        auto [found, fresh] = motions_.try_emplace(clip->id);
        auto& motion = found->second;
        if (fresh) {
            // What a row shows when the list first appears stands still.
            motion.selected = selected;
            motion.trimmed = clip->isTrimmed();
        }
        if (motion.selected != selected) {
            motion.selected = selected;
            motion.selectedAt = now;
        }
        if (motion.trimmed != clip->isTrimmed()) {
            motion.trimmed = clip->isTrimmed();
            motion.trimmedAt = now;
        }
        moving = std::max({moving, motion.selectedAt, motion.trimmedAt});
    }
    frames_.runUntil(moving + TrimMotion::settled());
    update();
}

void ClipList::settle()
{
    for (auto& [id, motion] : motions_)
        motion.selectedAt = motion.trimmedAt = TrimMotion::longAgo;
    update();
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
    // Only the rows in view: a long batch costs what shows.
    for (size_t i = 0; i < clips.size(); ++i) {
        const auto row = rowRect(i);
        if (!row.intersects(QRectF(event->rect())))
            continue;
        ClipRows::RowLook look{clips[i]->id == session_.selectedID() ? 1.0 : 0.0, clips[i]->isTrimmed() ? 1.0 : 0.0};
        if (auto found = motions_.find(clips[i]->id); found != motions_.end())
            look = {ClipRows::selectionAt(now - found->second.selectedAt, found->second.selected),
                ClipRows::scissorsAt(now - found->second.trimmedAt, found->second.trimmed)};
        ClipRows::paint(painter, *clips[i], look, row, accent, primary);
    }
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
