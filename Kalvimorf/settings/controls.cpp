#include "settings/controls.h"

#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "menus/palette.h"

#include <QApplication>
#include <QButtonGroup>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace SettingsLook {

QColor tint()
{
    const auto palette = Theme::palette(Theme::isDark(), Theme::current());
    return palette.metal(WheelMode::convert);
}

void applyTint(QWidget* window)
{
    auto palette = window->palette();
    const auto colour = tint();
    palette.setColor(QPalette::Highlight, colour);
    palette.setColor(QPalette::Inactive, QPalette::Highlight, colour);
    window->setPalette(palette);
    window->update();
}

void follow(QWidget* window)
{
    window->setFont(Draw::font(13));
    applyTint(window);
    QObject::connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, window, [window] {
        applyTint(window);
    });
}

QColor secondaryText(const QPalette& palette)
{
    auto colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.6f);
    return colour;
}

Row row()
{
    auto* widget = new QWidget;
    auto* line = new QHBoxLayout(widget);
    line->setContentsMargins(0, 0, 0, 0);
    return {widget, line};
}

TitledRow titledRow(const QString& title)
{
    auto [widget, line] = row();
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(new QLabel(title));
    auto* caption = footnote({});
    texts->addWidget(caption);
    line->addLayout(texts, 1);
    return {{widget, line}, caption};
}

namespace {

// The text colour around it, faded, and worked out again whenever the colours around it change
// (another appearance, the desktop's scheme): a colour set once would stay that of the
// appearance the window was made in, dark ink on a dark page.
class Footnote final : public QLabel {
public:
    explicit Footnote(const QString& text) : QLabel(text) { fade(); }

protected:
    void changeEvent(QEvent* event) override
    {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
            fade();
    }

private:
    void fade()
    {
        const QPalette around = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
        const QColor wanted = secondaryText(around);
        if (palette().color(QPalette::WindowText) == wanted)
            return;
        QPalette own = palette();
        own.setColor(QPalette::WindowText, wanted);
        setPalette(own);
    }
};

}

QLabel* footnote(const QString& text)
{
    auto* label = new Footnote(text);
    label->setWordWrap(true);
    label->setFont(Draw::font(11));
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return label;
}

}

Switch::Switch(const QString& text, QWidget* parent) : QAbstractButton(parent)
{
    setText(text);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

// The track stands in from the right edge and the row is a little higher than the track, so that
// the focus ring round it has room.
QSize Switch::sizeHint() const { return {fontMetrics().horizontalAdvance(text()) + 60, 28}; }

int Switch::heightForWidth(int width) const
{
    // The label's room is what `paint` leaves it beside the track.
    const auto wrapped
        = fontMetrics().boundingRect(QRect(0, 0, std::max(width - 50, 1), 100000), Qt::TextWordWrap, text());
    return std::max(28, wrapped.height() + 4);
}

void Switch::paint(
    QPainter& painter, const QRect& bounds, const QString& text, bool on, const QPalette& palette, bool focused)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(bounds.right() - 42, bounds.center().y() - 11, 38, 22);
    painter.setPen(palette.color(QPalette::WindowText));
    painter.drawText(bounds.adjusted(0, 0, -50, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, text);
    auto off = palette.color(QPalette::WindowText);
    off.setAlphaF(0.18f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(on ? palette.color(QPalette::Highlight) : off);
    painter.drawRoundedRect(track, 11, 11);
    const double x = on ? track.right() - 20 : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, 18, 18));
    if (focused) {
        // Apart from the track by a gap, so that it shows round an "on" track of the same colour.
        painter.setPen(QPen(palette.color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-2.5, -2.5, 2.5, 2.5), 13.5, 13.5);
    }
    painter.restore();
}

void Switch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, rect(), text(), isChecked(), palette(), hasFocus());
}

namespace {

// One segment: the chosen one in the tint, the others plain.
class Segment : public QAbstractButton {
public:
    Segment(const QString& text, bool first, bool last) : first_(first), last_(last)
    {
        setText(text);
        setCheckable(true);
    }
    QSize sizeHint() const override { return {fontMetrics().horizontalAdvance(text()) + 24, 26}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(box.adjusted(first_ ? 0 : -8, 0, last_ ? 0 : 8, 0), 6, 6);
        QPainterPath clip;
        clip.addRect(box);
        auto line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.2f);
        painter.setClipPath(clip);
        painter.setPen(QPen(line, 1));
        painter.setBrush(isChecked() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Base));
        painter.drawPath(path);
        painter.setPen(
            isChecked() ? palette().color(QPalette::HighlightedText) : palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    bool first_;
    bool last_;
};

}

SegmentedPicker::SegmentedPicker(const std::vector<QString>& labels, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (size_t i = 0; i < labels.size(); ++i) {
        auto* segment = new Segment(labels[i], i == 0, i + 1 == labels.size());
        group_->addButton(segment, int(i));
        row->addWidget(segment);
    }
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedPicker::picked);
}

void SegmentedPicker::setCurrent(int index)
{
    if (auto* button = group_->button(index))
        button->setChecked(true);
}

int SegmentedPicker::current() const { return group_->checkedId(); }

QAbstractButton* SegmentedPicker::segment(int index) const { return group_->button(index); }

Picker::Picker(QWidget* parent) : QComboBox(parent)
{
    // QComboBox takes the focus from the wheel by default, and then the next notch changes it.
    setFocusPolicy(Qt::StrongFocus);
}

void Picker::wheelEvent(QWheelEvent* event) { event->ignore(); }

SettingsPage::SettingsPage(QWidget* parent) : QWidget(parent)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget;
    column_ = new QVBoxLayout(content);
    column_->setContentsMargins(16, 12, 16, 12);
    column_->setSpacing(12);
    scroll->setWidget(content);
    outer->addWidget(scroll);
}

QFormLayout* SettingsPage::section(const QString& title)
{
    auto* box = new QGroupBox(title);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    column_->addWidget(box);
    return form;
}

QLabel* SettingsPage::footer(const QString& text)
{
    auto* label = SettingsLook::footnote(text);
    column_->addWidget(label);
    return label;
}

void SettingsPage::finish() { column_->addStretch(1); }
