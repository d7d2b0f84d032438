#include "trim/clip_list.h"

#include "trim/time_text.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

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

void paint(QPainter& painter, const TrimClip& clip, bool selected, const QRectF& row, const QColor& accent,
    const QColor& primary)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (selected) {
        auto fill = accent;
        fill.setAlphaF(0.18f);
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
    if (clip.isTrimmed())
        TrimPaint::symbol(
            painter, TrimPaint::Symbol::scissors, QRectF(inner.right() - 11, inner.center().y() - 5.5, 11, 11), accent);
    painter.restore();
}

}

ClipList::ClipList(TrimSession& session, QWidget* parent) : QWidget(parent), session_(session) { }

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
    // Only the rows in view: a long batch costs what shows.
    for (size_t i = 0; i < clips.size(); ++i) {
        const auto row = rowRect(i);
        if (row.intersects(QRectF(event->rect())))
            ClipRows::paint(painter, *clips[i], clips[i]->id == session_.selectedID(), row, accent, primary);
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
