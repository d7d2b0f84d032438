#include "shell/how_to.h"

#include "core/state/settings_model.h"
#include "menus/drawing_kit.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace HowTo {

std::string keycapText(TriggerKey key)
{
    if (key == TriggerKey::off)
        return "—";
    return QString::fromStdString(TriggerKeys::title(key)).toLower().toStdString();
}

HowToContent content(bool separateKeys, TriggerKey single, TriggerKey convert, TriggerKey tools, TriggerKey actions)
{
    HowToContent result;
    result.instruction = separateKeys ? "Arraste um arquivo no gerenciador de arquivos e segure:"
                                      : "Arraste um arquivo no gerenciador de arquivos e toque:";
    if (separateKeys) {
        const std::pair<TriggerKey, const char*> modes[]
            = {{convert, "Converter"}, {tools, "Ferramentas"}, {actions, "Ações"}};
        for (const auto& [key, label] : modes)
            result.shortcuts.push_back({keycapText(key), label, key == TriggerKey::off ? 0.35 : 1.0});
    } else {
        // The single key is never dimmed, even when it is off.
        result.shortcuts.push_back({keycapText(single), "", 1.0});
        result.singleHint = "abre o leque · toque de novo para alternar";
    }
    return result;
}

HowToContent current()
{
    const auto& s = SettingsModel::shared();
    return content(s.separateKeys(), s.singleKey(), s.convertKey(), s.toolsKey(), s.actionsKey());
}

namespace {

QFont capFont() { return Draw::font(11, QFont::Medium); }

double textWidth(const QString& text, const QFont& font) { return QFontMetricsF(font).horizontalAdvance(text); }

// A line of text centred in `width`, its top at `y`; returns the line height.
double centredLine(
    QPainter& painter, double x, double width, double y, const QString& text, const QFont& font, const QColor& colour)
{
    const double lineHeight = QFontMetricsF(font).height();
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(QRectF(x, y, width, lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, text);
    return lineHeight;
}

}

double keycapWidth(const std::string& text) { return textWidth(QString::fromStdString(text), capFont()) + 18; }

double paintKeycap(QPainter& painter, QPointF origin, const std::string& text, const ViewColors& colors)
{
    const double width = keycapWidth(text);
    const QRectF cap(origin, QSizeF(width, 24));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // A hard lower edge: the fill's own shadow, one point down, no blur; only the part below the
    // face shows, so the dark scheme's translucent face keeps its own tint.
    QPainterPath face;
    face.addRoundedRect(cap, 6, 6);
    QPainterPath shadow;
    shadow.addRoundedRect(cap.translated(0, 1), 6, 6);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, colors.dark ? 0.5f : 0.16f));
    painter.drawPath(shadow.subtracted(face));
    painter.setBrush(colors.dark ? QColor::fromRgbF(1, 1, 1, 0.1f) : QColor(Qt::white));
    painter.drawPath(face);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Draw::withAlpha(colors.dark ? Qt::white : Qt::black, colors.dark ? 0.18 : 0.12), 0.5));
    painter.drawRoundedRect(cap.adjusted(0.25, 0.25, -0.25, -0.25), 5.75, 5.75);
    painter.setFont(capFont());
    painter.setPen(Draw::withAlpha(colors.primary, colors.primary.alphaF() * 0.85));
    painter.drawText(cap, Qt::AlignCenter, QString::fromStdString(text));
    painter.restore();
    return width;
}

void paint(QPainter& painter, const QRectF& bounds, const HowToContent& content, const ViewColors& colors)
{
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    double y = bounds.top();
    y += centredLine(painter, bounds.left(), bounds.width(), y, "Atalho em qualquer lugar",
             Draw::font(13, QFont::DemiBold), colors.primary)
        + 9;
    y += centredLine(painter, bounds.left(), bounds.width(), y, QString::fromStdString(content.instruction),
             Draw::font(12), colors.secondary)
        + 9 + 2;
    // The keys row, centred as a whole.
    const QFont labelFont = Draw::font(12, QFont::Medium);
    const QFont hintFont = Draw::font(12);
    double rowWidth = 0;
    if (content.singleHint.empty()) {
        for (size_t i = 0; i < content.shortcuts.size(); ++i)
            rowWidth += (i ? 22 : 0) + keycapWidth(content.shortcuts[i].keycap) + 8
                + textWidth(QString::fromStdString(content.shortcuts[i].label), labelFont);
    } else {
        rowWidth = keycapWidth(content.shortcuts.front().keycap) + 10
            + textWidth(QString::fromStdString(content.singleHint), hintFont);
    }
    double x = bounds.center().x() - rowWidth / 2;
    for (const auto& shortcut : content.shortcuts) {
        painter.save();
        painter.setOpacity(shortcut.opacity);
        x += paintKeycap(painter, QPointF(x, y), shortcut.keycap, colors);
        const bool single = !content.singleHint.empty();
        const QString text = QString::fromStdString(single ? content.singleHint : shortcut.label);
        const QFont& font = single ? hintFont : labelFont;
        x += single ? 10 : 8;
        painter.setFont(font);
        painter.setPen(colors.primary);
        const double width = textWidth(text, font);
        painter.drawText(QRectF(x, y, width + 1, 24), Qt::AlignLeft | Qt::AlignVCenter, text);
        x += width + 22;
        painter.restore();
    }
    y += 24 + 9 + 2;
    centredLine(painter, bounds.left(), bounds.width(), y,
        "Escolha uma carta e solte o arquivo nela · a mágica acontece no seu computador", Draw::font(11),
        colors.tertiary);
    painter.restore();
}

}

HowToView::HowToView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(int(HowTo::height));
    connect(&SettingsModel::shared(), &SettingsModel::changed, this, [this] {
        update();
    });
}

QSize HowToView::sizeHint() const { return {540, int(HowTo::height)}; }

void HowToView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    HowTo::paint(painter, rect(), HowTo::current(), ViewColors::current(this));
}
