#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <vector>

class QButtonGroup;
class QFormLayout;
class QHBoxLayout;
class QGroupBox;
class QLabel;
class QVBoxLayout;

// The controls and the look the settings window and the report form share.
namespace SettingsLook {
// The theme's convert colour, the tint of every control; worked out afresh at each call.
QColor tint();
// Puts the tint into the widget's palette as Highlight (Qt 6.4 has no accent role) and the
// Inter font on it, and keeps the tint in step with every theme change.
void follow(QWidget* window);
// Puts the tint in force into the widget's palette now.
void applyTint(QWidget* window);
// A caption in the secondary colour that wraps to its full height.
QLabel* footnote(const QString& text);
QColor secondaryText(const QPalette& palette);

// A form row laid out from left to right, without margins of its own.
struct Row {
    QWidget* widget;
    QHBoxLayout* line;
};
Row row();
// A row led by a title with a caption under it (the caption's text is set later); the widgets
// that follow go to the right.
struct TitledRow : Row {
    QLabel* caption;
};
TitledRow titledRow(const QString& title);
}

// An on/off switch with its text on the left and the knob on the right; on is drawn in the
// palette's Highlight.
class Switch : public QAbstractButton {
public:
    explicit Switch(const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    // The label wraps beside the switch, so a narrow row is higher rather than cut.
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // Pure: the switch as it looks with `on`, drawn into `bounds`; `focused` rings its track.
    static void paint(QPainter& painter, const QRect& bounds, const QString& text, bool on, const QPalette& palette,
        bool focused = false);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Exclusive checkable segments; the chosen one is filled with the palette's Highlight.
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    // `labels` in order; `picked(i)` is sent for a click by the user only.
    explicit SegmentedPicker(const std::vector<QString>& labels, QWidget* parent = nullptr);
    void setCurrent(int index);
    int current() const;
    QAbstractButton* segment(int index) const;

Q_SIGNALS:
    void picked(int index);

private:
    QButtonGroup* group_;
};

// A drop-down list of choices that changes only when the user picks in it: a click, or the keys
// while it has the focus. A wheel turned over it scrolls the page instead, so that scrolling past a
// setting never rewrites it.
class Picker : public QComboBox {
public:
    explicit Picker(QWidget* parent = nullptr);

protected:
    void wheelEvent(QWheelEvent* event) override;
};

// One page of the settings window: a scroll area of titled sections, each a form.
class SettingsPage : public QWidget {
public:
    explicit SettingsPage(QWidget* parent = nullptr);
    // A new section with its form; `title` empty for none.
    QFormLayout* section(const QString& title);
    // A caption under the last section.
    QLabel* footer(const QString& text);
    void finish();

private:
    QVBoxLayout* column_;
};
