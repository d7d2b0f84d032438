#pragma once

#include "core/base/settings.h"
#include "shell/item_focus.h"
#include "shell/view_look.h"

#include <QWidget>

#include <array>
#include <string>

class AppModel;

// The row of the three mode tabs at the top of the main window.
namespace ModeTabTexts {
struct Tab {
    std::string title;
    std::string symbol;  // the mode's trigger key, empty when it shows none
    std::string tooltip;
};
// With one key per mode a tab names its key; a key set to off, or the single key, shows none.
Tab tab(WheelMode mode, bool separateKeys, TriggerKey key);
}

struct ModeTabsLook {
    std::array<ModeTabTexts::Tab, 3> tabs;
    WheelMode selected = WheelMode::convert;
    // How far each tab is highlighted, 0 to about 1 (a spring), in mode order.
    std::array<double, 3> highlight{};
    // The tab the keyboard is on, -1 for none.
    int focused = -1;
};

namespace ModeTabsDrawing {
constexpr double height = 38;
// The tab of mode index `index` inside the row's bounds.
QRectF tabRect(const QRectF& bounds, int index);
void paint(QPainter& painter, const QRectF& bounds, const ModeTabsLook& look, const ViewColors& colors);
}

class ModeTabs : public QWidget {
public:
    ModeTabs(AppModel& model, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    ModeTabsLook look() const;
    // The tab the keyboard is on, -1 for none.
    int focusedTab() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void follow();
    int tabAt(QPointF point) const;

    AppModel& model_;
    ItemFocus* focus_;
    std::array<Spring, 3> highlight_;
    SpringTicker ticker_;
};
