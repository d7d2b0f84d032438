#pragma once

#include "core/base/settings.h"
#include "shell/view_look.h"

#include <QWidget>

#include <string>
#include <vector>

// The help block at the foot of the main window: the card menus work anywhere, with these keys.
struct HowToContent {
    struct Shortcut {
        std::string keycap;
        std::string label;  // empty for the single key
        double opacity = 1;
    };
    std::string instruction;
    // One per mode with separate keys; the single key alone otherwise.
    std::vector<Shortcut> shortcuts;
    // After the single key's cap; empty with separate keys.
    std::string singleHint;
};

namespace HowTo {
// "⇧ shift", …; "—" for off.
std::string keycapText(TriggerKey key);
HowToContent content(bool separateKeys, TriggerKey single, TriggerKey convert, TriggerKey tools, TriggerKey actions);
HowToContent current();

constexpr double height = 104;
void paint(QPainter& painter, const QRectF& bounds, const HowToContent& content, const ViewColors& colors);
// One key cap, its top left at `origin`; returns its width.
double paintKeycap(QPainter& painter, QPointF origin, const std::string& text, const ViewColors& colors);
double keycapWidth(const std::string& text);
}

class HowToView : public QWidget {
public:
    explicit HowToView(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
