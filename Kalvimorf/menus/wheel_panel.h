#pragma once

#include <QWidget>

#include <functional>

class QKeyEvent;

// The borderless window that hosts a menu surface: always on top, never activated when shown.
// While the quality step waits for a key it grabs the keyboard; every hide gives it back.
class WheelPanel : public QWidget {
public:
    WheelPanel();

    // Keys reach the panel only while allowed; true from onKey stops a key there, false hands it
    // on to the widget as usual.
    void setAllowsKey(bool allows);
    bool allowsKey() const { return allowsKey_; }
    std::function<bool(QKeyEvent*)> onKey;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool allowsKey_ = false;
};
