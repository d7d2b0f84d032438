#include "shell/mode_tabs.h"

#include "core/state/settings_model.h"
#include "menus/drawing_kit.h"
#include "menus/wheel_controller.h"
#include "shell/app_model.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace ModeTabTexts {

Tab tab(WheelMode mode, bool separateKeys, TriggerKey key)
{
    Tab result{WheelController::title(mode), {}, WheelController::title(mode)};
    if (separateKeys && key != TriggerKey::off) {
        // "⇧ Shift": the symbol is the part before the blank.
        const auto label = TriggerKeys::title(key);
        result.symbol = label.substr(0, label.find(' '));
        result.tooltip = "Atalho: arraste um arquivo e segure " + label;
    }
    return result;
}

}

namespace ModeTabsDrawing {

QRectF tabRect(const QRectF& bounds, int index)
{
    const QRectF inner = bounds.adjusted(4, 4, -4, -4);
    const double width = (inner.width() - 2 * 6) / 3;
    return QRectF(inner.left() + index * (width + 6), inner.top(), width, inner.height());
}

void paint(QPainter& painter, const QRectF& bounds, const ModeTabsLook& look, const ViewColors& colors)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Draw::withAlpha(colors.primary, 0.05));
    painter.drawRoundedRect(bounds, 11, 11);
    for (int i = 0; i < 3; ++i) {
        const QRectF rect = tabRect(bounds, i);
        const double h = Draw::clamp01(look.highlight[size_t(i)]);
        const bool selected = int(look.selected) == i;
        if (h > 0) {
            painter.setBrush(Draw::withAlpha(colors.accent, 0.18 * h));
            painter.setPen(QPen(Draw::withAlpha(colors.accent, 0.6 * h), 1));
            painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        }
        if (look.focused == i)
            ItemFocus::paintRing(painter, rect.adjusted(1, 1, -1, -1), 7, colors);
        const auto& tab = look.tabs[size_t(i)];
        const QFont titleFont = Draw::font(13, selected ? QFont::DemiBold : QFont::Normal);
        const QFont symbolFont = Draw::font(11, QFont::Medium);
        const QString title = QString::fromStdString(tab.title), symbol = QString::fromStdString(tab.symbol);
        const double titleWidth = QFontMetricsF(titleFont).horizontalAdvance(title);
        const double symbolWidth = symbol.isEmpty() ? 0 : 6 + QFontMetricsF(symbolFont).horizontalAdvance(symbol);
        double x = rect.center().x() - (titleWidth + symbolWidth) / 2;
        painter.setPen(colors.primary);
        painter.setFont(titleFont);
        painter.drawText(QRectF(x, rect.top(), titleWidth + 1, rect.height()), Qt::AlignVCenter | Qt::AlignLeft, title);
        if (!symbol.isEmpty()) {
            painter.setPen(selected ? Draw::withAlpha(colors.primary, 0.7) : colors.secondary);
            painter.setFont(symbolFont);
            painter.drawText(QRectF(x + titleWidth + 6, rect.top(), symbolWidth, rect.height()),
                Qt::AlignVCenter | Qt::AlignLeft, symbol);
        }
    }
    painter.restore();
}

}

ModeTabs::ModeTabs(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model), highlight_{responseSpring(0.3, 0.8), responseSpring(0.3, 0.8), responseSpring(0.3, 0.8)},
      ticker_(
          {&highlight_[0], &highlight_[1], &highlight_[2]},
          [this] {
              update();
          },
          this)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    focus_ = new ItemFocus(
        *this,
        [] {
            return int(WheelModes::all().size());
        },
        [this](int index) {
            model_.setMode(WheelModes::all()[size_t(index)]);
        });
    for (int i = 0; i < 3; ++i)
        highlight_[size_t(i)].value = highlight_[size_t(i)].target = int(model_.mode()) == i ? 1 : 0;
    connect(&model_, &AppModel::changed, this, &ModeTabs::follow);
    connect(&SettingsModel::shared(), &SettingsModel::changed, this, [this] {
        update();
    });
}

QSize ModeTabs::sizeHint() const { return {540, int(ModeTabsDrawing::height)}; }

ModeTabsLook ModeTabs::look() const
{
    const auto& settings = SettingsModel::shared();
    ModeTabsLook look;
    for (auto mode : WheelModes::all())
        look.tabs[size_t(mode)] = ModeTabTexts::tab(mode, settings.separateKeys(), settings.key(mode));
    look.selected = model_.mode();
    for (int i = 0; i < 3; ++i)
        look.highlight[size_t(i)] = highlight_[size_t(i)].value;
    look.focused = focusedTab();
    return look;
}

int ModeTabs::focusedTab() const { return focus_->current(); }

void ModeTabs::follow()
{
    for (int i = 0; i < 3; ++i)
        ticker_.aim(highlight_[size_t(i)], int(model_.mode()) == i ? 1 : 0);
    update();
}

int ModeTabs::tabAt(QPointF point) const
{
    for (int i = 0; i < 3; ++i)
        if (ModeTabsDrawing::tabRect(rect(), i).contains(point))
            return i;
    return -1;
}

bool ModeTabs::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        showPartTooltip(this, event, [this](QPoint point) -> std::optional<TooltipPart> {
            const int index = tabAt(point);
            if (index < 0)
                return std::nullopt;
            return TooltipPart{look().tabs[size_t(index)].tooltip, ModeTabsDrawing::tabRect(rect(), index).toRect()};
        });
        return true;
    }
    return QWidget::event(event);
}

void ModeTabs::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    ModeTabsDrawing::paint(painter, rect(), look(), ViewColors::current(this));
}

void ModeTabs::mousePressEvent(QMouseEvent* event)
{
    const int index = tabAt(event->position());
    if (index >= 0 && event->button() == Qt::LeftButton)
        model_.setMode(WheelModes::all()[size_t(index)]);
}
