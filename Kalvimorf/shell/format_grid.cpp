#include "shell/format_grid.h"

#include "menus/drawing_kit.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>

#include <cmath>

namespace FormatGridDrawing {

QRectF tileRect(double width, int index)
{
    const double cell = (width - 2 * padding - (columns - 1) * spacing) / columns;
    const int row = index / columns, column = index % columns;
    return QRectF(padding + column * (cell + spacing), padding + row * (tileHeight + spacing), cell, tileHeight);
}

double height(double width, size_t count)
{
    if (count == 0)
        return 0;
    return tileRect(width, int(count) - 1).bottom() + padding;
}

void paintTile(
    QPainter& painter, const QRectF& rect, const FormatTile& tile, const TileLook& look, const ViewColors& colors)
{
    const double h = look.hover, p = look.press;
    const QColor a = colors.accent;
    // At rest → hovered by the hover spring; pressed on top of either by the press spring.
    QColor fill = Draw::blended(Draw::withAlpha(colors.primary, 0.07), Draw::clamp01(h), Draw::withAlpha(a, 0.14));
    fill = Draw::blended(fill, Draw::clamp01(p), Draw::withAlpha(a, 0.35));
    const QColor border = Draw::withAlpha(a, 0.45 * Draw::clamp01(h));
    const double shadow = 0.12 * Draw::clamp01(h);
    const double scale = (1 + 0.04 * h) * (1 - p) + 0.95 * p;
    const QColor ink = Draw::blended(colors.primary, Draw::clamp01(h), a);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(rect.center());
    painter.scale(scale, scale);
    const QRectF body(-rect.width() / 2, -rect.height() / 2, rect.width(), rect.height());
    auto shape = [&](QPainter& target) {
        target.setPen(Qt::NoPen);
        target.setBrush(fill);
        target.drawRoundedRect(body, 12, 12);
    };
    if (shadow > 0.001)
        Draw::withShadow(
            painter, body.adjusted(-1, -1, 1, 1), {QPointF(0, 3), 6, QColor::fromRgbF(0, 0, 0, float(shadow))}, shape);
    else
        shape(painter);
    if (border.alphaF() > 0.001) {
        painter.setPen(QPen(border, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), 11.5, 11.5);
    }
    if (look.focused)
        ItemFocus::paintRing(painter, body, 12, colors);
    if (tile.twoLines) {
        const QFont labelFont = Draw::font(15, QFont::DemiBold);
        const QFont detailFont = Draw::font(10);
        const double labelHeight = QFontMetricsF(labelFont).height();
        const double detailHeight = tile.detail.empty() ? 0 : QFontMetricsF(detailFont).height() + 2;
        double y = -(labelHeight + detailHeight) / 2;
        painter.setFont(labelFont);
        painter.setPen(ink);
        painter.drawText(QRectF(body.left(), y, body.width(), labelHeight), Qt::AlignCenter,
            Draw::elided(QString::fromStdString(tile.label), labelFont, body.width() - 8));
        if (!tile.detail.empty()) {
            painter.setFont(detailFont);
            painter.setPen(colors.secondary);
            painter.drawText(QRectF(body.left(), y + labelHeight + 2, body.width(), detailHeight - 2), Qt::AlignCenter,
                Draw::elided(QString::fromStdString(tile.detail), detailFont, body.width() - 8));
        }
    } else {
        const QFont font = Draw::font(12.5, QFont::DemiBold);
        const auto lines = Draw::wrapped(QString::fromStdString(tile.label), font, body.width() - 12, 3);
        const double lineHeight = QFontMetricsF(font).height();
        double y = -lines.size() * lineHeight / 2;
        painter.setFont(font);
        painter.setPen(ink);
        for (const auto& line : lines) {
            painter.drawText(QRectF(body.left() + 6, y, body.width() - 12, lineHeight), Qt::AlignCenter, line);
            y += lineHeight;
        }
    }
    painter.restore();
}

}

FormatGrid::FormatGrid(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    rebuildTicker();
    focus_ = new ItemFocus(
        *this,
        [this] {
            return int(tiles_.size());
        },
        [this](int index) {
            if (onClick)
                onClick(index);
        },
        [this](int index) {
            // In the scroll area that holds the grid, the tile comes into view with a margin for
            // its ring.
            for (auto* above = parentWidget(); above; above = above->parentWidget())
                if (auto* area = qobject_cast<QScrollArea*>(above)) {
                    const auto tile = FormatGridDrawing::tileRect(width(), index).toAlignedRect();
                    area->ensureVisible(tile.center().x(), tile.center().y(), 0, tile.height() / 2 + 6);
                    break;
                }
        });
}

int FormatGrid::focusedTile() const { return focus_->current(); }

void FormatGrid::rebuildTicker()
{
    std::vector<Spring*> springs;
    for (auto& spring : hover_)
        springs.push_back(&spring);
    for (auto& spring : press_)
        springs.push_back(&spring);
    ticker_ = std::make_unique<SpringTicker>(springs, [this] {
        update();
    });
}

void FormatGrid::setTiles(std::vector<FormatTile> tiles)
{
    const bool sameCount = tiles.size() == tiles_.size();
    tiles_ = std::move(tiles);
    // The same cells keep their hover: a changed quality only rewrites their second lines.
    if (!sameCount) {
        hover_.assign(tiles_.size(), responseSpring(0.28, 0.65));
        press_.assign(tiles_.size(), responseSpring(0.2, 0.6));
        hovered_ = pressed_ = -1;
        rebuildTicker();
        updateGeometry();
        focus_->partsChanged();
    }
    setFixedHeight(heightForWidth(width() > 0 ? width() : 540));
    update();
}

int FormatGrid::heightForWidth(int width) const
{
    return int(std::ceil(FormatGridDrawing::height(width, tiles_.size())));
}

QSize FormatGrid::sizeHint() const { return {540, heightForWidth(540)}; }

int FormatGrid::tileAt(QPointF point) const
{
    for (size_t i = 0; i < tiles_.size(); ++i)
        if (FormatGridDrawing::tileRect(width(), int(i)).contains(point))
            return int(i);
    return -1;
}

void FormatGrid::setHovered(int index)
{
    if (index == hovered_)
        return;
    if (hovered_ >= 0)
        ticker_->aim(hover_[size_t(hovered_)], 0);
    hovered_ = index;
    if (hovered_ >= 0)
        ticker_->aim(hover_[size_t(hovered_)], 1);
    update();
}

bool FormatGrid::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        showPartTooltip(this, event, [this](QPoint point) -> std::optional<TooltipPart> {
            const int index = tileAt(point);
            if (index < 0)
                return std::nullopt;
            return TooltipPart{tiles_[size_t(index)].tooltip, FormatGridDrawing::tileRect(width(), index).toRect()};
        });
        return true;
    }
    if (event->type() == QEvent::Resize)
        setFixedHeight(heightForWidth(width()));
    return QWidget::event(event);
}

void FormatGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const auto colors = ViewColors::current(this);
    auto paint = [&](size_t index) {
        FormatGridDrawing::paintTile(painter, FormatGridDrawing::tileRect(width(), int(index)), tiles_[index],
            {hover_[index].value, press_[index].value, int(index) == hovered_, int(index) == focusedTile()}, colors);
    };
    for (size_t i = 0; i < tiles_.size(); ++i)
        if (int(i) != hovered_)
            paint(i);
    // The hovered tile last, so its growth lies over its neighbours.
    if (hovered_ >= 0 && size_t(hovered_) < tiles_.size())
        paint(size_t(hovered_));
}

void FormatGrid::mouseMoveEvent(QMouseEvent* event) { setHovered(tileAt(event->position())); }

void FormatGrid::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressed_ = tileAt(event->position());
    if (pressed_ >= 0)
        ticker_->aim(press_[size_t(pressed_)], 1);
}

void FormatGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || pressed_ < 0)
        return;
    const int index = pressed_;
    pressed_ = -1;
    ticker_->aim(press_[size_t(index)], 0);
    if (tileAt(event->position()) == index && onClick)
        onClick(index);
}

void FormatGrid::leaveEvent(QEvent*) { setHovered(-1); }
