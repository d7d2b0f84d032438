#include "shell/drop_zone.h"

#include "core/state/settings_model.h"
#include "menus/brivlon_mark.h"
#include "menus/drawing_kit.h"
#include "shell/app_commands.h"
#include "shell/app_model.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include <algorithm>

namespace DropZoneDrawing {

namespace {

const QString description = "Imagens, vídeos, áudios, PDFs, documentos, planilhas, legendas e arquivos compactados";
constexpr double spacing = 14;
constexpr double markSide = 58;
constexpr double sideMargin = 24;

QFont titleFont(bool rounded)
{
    QFont font = Draw::font(28, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.4);
    // Inter has no rounded cut; the stage theme's rounder title is the heavier weight.
    if (rounded)
        font.setWeight(QFont::Bold);
    return font;
}
QFont modeFont() { return Draw::font(15, QFont::Medium); }
QFont bodyFont() { return Draw::font(13); }

struct Stack {
    double top;
    double titleHeight;
    double modeHeight;
    QStringList body;
    double bodyLine;
};

Stack stack(const QRectF& bounds, const QSizeF& button)
{
    Stack s;
    s.titleHeight = QFontMetricsF(titleFont(false)).height();
    s.modeHeight = QFontMetricsF(modeFont()).height();
    s.body = Draw::wrapped(description, bodyFont(), bounds.width() - 2 * sideMargin, 3);
    s.bodyLine = QFontMetricsF(bodyFont()).height();
    const double total
        = markSide + s.titleHeight + s.modeHeight + s.body.size() * s.bodyLine + button.height() + 4 * spacing;
    s.top = bounds.top() + (bounds.height() - total) / 2;
    return s;
}

}

std::string modeLine(WheelMode mode)
{
    switch (mode) {
    case WheelMode::convert: return "Solte arquivos aqui para converter";
    case WheelMode::tools: return "Solte arquivos aqui para usar as ferramentas";
    case WheelMode::actions: return "Solte arquivos aqui para as ações rápidas";
    }
    return {};
}

QRectF buttonRect(const QRectF& bounds, const QSizeF& button)
{
    const auto s = stack(bounds, button);
    const double y = s.top + markSide + s.titleHeight + s.modeHeight + s.body.size() * s.bodyLine + 4 * spacing;
    return QRectF(bounds.center().x() - button.width() / 2, y, button.width(), button.height());
}

void paint(
    QPainter& painter, const QRectF& bounds, const QSizeF& button, const DropZoneLook& look, const ViewColors& colors)
{
    const double t = look.targeted;
    const double shown = Draw::clamp01(t);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // The whole zone grows a little under a hovering drag.
    const double zoneScale = 1 + 0.012 * t;
    painter.translate(bounds.center());
    painter.scale(zoneScale, zoneScale);
    painter.translate(-bounds.center());

    // The widget clips: the border rests far enough inside that the grown zone, springing a
    // little past its size, still shows whole.
    const double mx = bounds.width() * 0.008 + 1, my = bounds.height() * 0.008 + 1;
    const QRectF border = bounds.adjusted(mx, my, -mx, -my);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Draw::withAlpha(colors.accent, 0.08 * shown));
    painter.drawRoundedRect(border, 18, 18);
    QPen dashes(
        Draw::blended(Draw::withAlpha(colors.secondary, colors.secondary.alphaF() * 0.4), shown, colors.accent), 2);
    // In units of the pen's width: 8 drawn, 6 left out.
    dashes.setDashPattern({4, 3});
    dashes.setCapStyle(Qt::FlatCap);
    dashes.setJoinStyle(Qt::MiterJoin);
    painter.setPen(dashes);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(border, 18, 18);

    const auto s = stack(bounds, button);
    double y = s.top;
    {
        // The mark tilts, grows and lifts while a drag hovers.
        painter.save();
        const QPointF centre(bounds.center().x(), y + markSide / 2 - 4 * t);
        painter.translate(centre);
        painter.rotate(25 * t);
        painter.scale(1 + 0.12 * t, 1 + 0.12 * t);
        BrivlonMark::paint(painter, QRectF(-markSide / 2, -markSide / 2, markSide, markSide), colors.accent);
        painter.restore();
    }
    y += markSide + spacing;
    auto line = [&](const QString& text, const QFont& font, const QColor& colour, double height) {
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(QRectF(bounds.left(), y, bounds.width(), height), Qt::AlignHCenter | Qt::AlignVCenter, text);
        y += height;
    };
    line("Brivlon", titleFont(look.roundedTitle), colors.primary, s.titleHeight);
    y += spacing;
    line(QString::fromStdString(modeLine(look.mode)), modeFont(), colors.primary, s.modeHeight);
    y += spacing;
    for (const auto& text : s.body)
        line(text, bodyFont(), colors.secondary, s.bodyLine);
    painter.restore();
}

}

DropZone::DropZone(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), button_(new QPushButton(AppCommands::chooseFiles, this)),
      targeted_(responseSpring(0.32, 0.62)), ticker_(
                                                 {&targeted_},
                                                 [this] {
                                                     update();
                                                 },
                                                 this)
{
    button_->setFont(Draw::font(14));
    button_->setMinimumHeight(32);
    button_->setCursor(Qt::PointingHandCursor);
    button_->setAutoDefault(true);
    connect(button_, &QPushButton::clicked, this, &DropZone::chooseRequested);
    connect(&model_, &AppModel::changed, this, &DropZone::follow);
    connect(&SettingsModel::shared(), &SettingsModel::changed, this, [this] {
        update();
    });
    targeted_.value = targeted_.target = model_.dropTargeted() ? 1 : 0;
}

DropZoneLook DropZone::look() const
{
    return {targeted_.value, model_.mode(), SettingsModel::shared().theme() == AppTheme::stage};
}

void DropZone::follow()
{
    ticker_.aim(targeted_, model_.dropTargeted() ? 1 : 0);
    update();
}

void DropZone::resizeEvent(QResizeEvent*)
{
    QSize size = button_->sizeHint();
    size.setWidth(size.width() + 24);
    size.setHeight(std::max(size.height(), 32));
    button_->setGeometry(DropZoneDrawing::buttonRect(rect(), size).toRect());
}

void DropZone::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DropZoneDrawing::paint(painter, rect(), button_->size(), look(), ViewColors::current(this));
}
