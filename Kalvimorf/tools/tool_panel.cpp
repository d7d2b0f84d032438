#include "tools/tool_panel.h"

#include "platform/window_places.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

QFont inter(double points, QFont::Weight weight = QFont::Normal)
{
    QFont font(QStringLiteral("Inter"));
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QLabel* caption(const QString& text)
{
    auto* label = new QLabel(text);
    label->setFont(inter(8.5));
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

QLabel* heading(const QString& text)
{
    auto* label = new QLabel(text);
    label->setFont(inter(9.5, QFont::Medium));
    return label;
}

// Relative luminance as the accessibility guidelines define it, for contrast ratios.
double luminance(const QColor& colour)
{
    auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// One button of a picker. The style's pressed look differs from the buttons beside it by a shade
// alone, so the chosen one is painted in the selection colour, darkened on a light window (or
// lightened on a dark one) until it stands out from its neighbours at 3:1, with room for the
// shading the style gives their faces; its name is white (or black) on it.
class Segment final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (!isChecked()) {
            QPushButton::paintEvent(event);
            return;
        }
        const QColor button = palette().color(QPalette::Button);
        const bool darkGround = button.lightnessF() < 0.5;
        QColor face = palette().color(QPalette::Highlight);
        for (int step = 0; step < 24 && contrast(face, button) < 4; ++step)
            face = darkGround ? face.lighter(112) : face.darker(112);
        const QColor ink = darkGround ? Qt::black : Qt::white;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(face);
        painter.drawRoundedRect(box, 3, 3);
        if (hasFocus()) {
            painter.setPen(QPen(ink, 1, Qt::DotLine));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box.adjusted(2.5, 2.5, -2.5, -2.5), 2, 2);
        }
        painter.setPen(ink);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
};

// A picker shown as a row of exclusive buttons, bound to `field`.
template <typename Value>
QWidget* segmented(
    const std::vector<std::pair<QString, Value>>& options, Value& field, std::function<void()> changed = {})
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* group = new QButtonGroup(row);
    group->setExclusive(true);
    for (const auto& [label, value] : options) {
        auto* button = new Segment(label);
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setFont(inter(9));
        button->setChecked(field == value);
        layout->addWidget(button);
        group->addButton(button);
        QObject::connect(button, &QPushButton::toggled, row, [&field, value, changed](bool on) {
            if (!on)
                return;
            field = value;
            if (changed)
                changed();
        });
    }
    return row;
}

// A pop-up menu bound to `field`.
template <typename Value> QComboBox* popUp(const std::vector<std::pair<QString, Value>>& options, Value& field)
{
    auto* menu = new QComboBox;
    menu->setFont(inter(9));
    for (const auto& [label, value] : options) {
        menu->addItem(label);
        if (field == value)
            menu->setCurrentIndex(menu->count() - 1);
    }
    QObject::connect(menu, &QComboBox::currentIndexChanged, menu, [options, &field](int index) {
        if (index >= 0 && size_t(index) < options.size())
            field = options[size_t(index)].second;
    });
    return menu;
}

// The choices of `control` as values of its field's type.
template <typename Value> std::vector<std::pair<QString, Value>> options(const ToolControl& control)
{
    std::vector<std::pair<QString, Value>> result;
    for (const auto& choice : control.choices) {
        const auto label = QString::fromUtf8(choice.label.data(), qsizetype(choice.label.size()));
        if constexpr (std::is_same_v<Value, std::string>)
            result.push_back({label, std::string(choice.text)});
        else
            result.push_back({label, Value(choice.number)});
    }
    return result;
}

QString text(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// The index of the choice `control`'s field holds, the first if none.
int chosen(const ToolControl& control, const ToolParams& params)
{
    return std::visit(
        [&](auto member) {
            if constexpr (!std::is_same_v<decltype(member), std::monostate>) {
                const auto& field = params.*member;
                using Value = std::remove_cvref_t<decltype(field)>;
                const auto choices = options<Value>(control);
                for (size_t i = 0; i < choices.size(); ++i)
                    if (choices[i].second == field)
                        return int(i);
            }
            return 0;
        },
        control.field);
}

// The widget that edits `control`'s field of `params`; `changed` follows a switch's buttons.
QWidget* editor(const ToolControl& control, ToolParams& params, std::function<void()> changed = {})
{
    return std::visit(
        [&](auto member) -> QWidget* {
            using Member = decltype(member);
            if constexpr (std::is_same_v<Member, std::monostate>)
                return nullptr;
            else {
                auto& field = params.*member;
                using Value = std::remove_reference_t<decltype(field)>;
                switch (control.kind) {
                case ToolControl::Kind::buttons:
                case ToolControl::Kind::modes: return segmented(options<Value>(control), field, changed);
                case ToolControl::Kind::menu: return popUp(options<Value>(control), field);
                case ToolControl::Kind::field:
                    if constexpr (std::is_same_v<Value, std::string>) {
                        auto* line = new QLineEdit(QString::fromStdString(field));
                        line->setFont(inter(9.5));
                        QObject::connect(line, &QLineEdit::textChanged, line, [&field](const QString& typed) {
                            field = typed.toStdString();
                        });
                        return line;
                    }
                    return nullptr;
                case ToolControl::Kind::caption: return nullptr;
                }
                return nullptr;
            }
        },
        control.field);
}

}

ToolSession::ToolSession(Tool tool, std::vector<std::filesystem::path> urls)
    : tool(tool), urls(std::move(urls)), params(Tools::panelStart(tool))
{
}

ToolOptionsView::ToolOptionsView(ToolSession session, QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
            | Qt::WindowMinimizeButtonHint),
      session_(std::move(session))
{
    const auto title = QString::fromStdString(Tools::title(session_.tool));
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);

    auto* top = new QVBoxLayout;
    top->setSpacing(2);
    auto* name = new QLabel(title);
    name->setFont(inter(15, QFont::DemiBold));
    auto* files = new QLabel;
    files->setFont(inter(9.5));
    files->setForegroundRole(QPalette::PlaceholderText);
    const auto described = QString::fromStdString(Catalog::describe(session_.urls));
    files->setText(QFontMetrics(files->font()).elidedText(described, Qt::ElideMiddle, 340));
    files->setToolTip(described);
    top->addWidget(name);
    top->addWidget(files);
    layout->addLayout(top);

    addControls(layout);

    // Cancel before apply, whatever order the desktop's dialogs use.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"));
    auto* apply = new QPushButton(QStringLiteral("Aplicar"));
    for (auto* button : {cancel, apply}) {
        button->setFont(inter(9.5));
        buttons->addWidget(button);
    }
    cancel->setAutoDefault(false);
    apply->setDefault(true);
    connect(apply, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addLayout(buttons);

    // As wide as the form is made, whatever its controls would take, and as high as their
    // wrapped captions then need.
    setFixedWidth(formWidth);
    setFixedHeight(
        layout->hasHeightForWidth() ? layout->totalHeightForWidth(formWidth) : layout->totalSizeHint().height());
}

void ToolOptionsView::addControls(QVBoxLayout* layout)
{
    auto& params = session_.params;
    const auto& controls = Tools::controls(session_.tool);
    for (auto control = controls.begin(); control != controls.end(); ++control) {
        if (control->kind == ToolControl::Kind::caption) {
            layout->addWidget(caption(text(control->text)));
            continue;
        }
        if (control->kind != ToolControl::Kind::modes) {
            layout->addWidget(heading(text(control->text)));
            layout->addWidget(editor(*control, params));
            continue;
        }
        // The pages of the controls after the switch, one per choice; the hidden one keeps its
        // value, so switching back shows the earlier choice.
        auto* pickers = new QStackedWidget;
        const auto switcher = control;
        for (size_t page = 0; page < switcher->choices.size(); ++page) {
            auto* widget = new QWidget;
            auto* pageLayout = new QVBoxLayout(widget);
            pageLayout->setContentsMargins(0, 0, 0, 0);
            for (auto shown = std::next(switcher); shown != controls.end() && shown->page >= 0; ++shown)
                if (size_t(shown->page) == page) {
                    pageLayout->addWidget(heading(text(shown->text)));
                    pageLayout->addWidget(editor(*shown, params));
                }
            pickers->addWidget(widget);
        }
        while (std::next(control) != controls.end() && std::next(control)->page >= 0)
            ++control;
        const auto follow = [pickers, switcher = &*switcher, &params] {
            pickers->setCurrentIndex(chosen(*switcher, params));
        };
        layout->addWidget(heading(text(switcher->text)));
        layout->addWidget(editor(*switcher, params, follow));
        layout->addWidget(pickers);
        follow();
    }
}

ToolPanelController& ToolPanelController::shared()
{
    static ToolPanelController instance;
    return instance;
}

void ToolPanelController::show(
    Tool tool, const std::vector<std::filesystem::path>& urls, std::function<void(const ToolParams&)> apply)
{
    if (window_) {
        // Closing the earlier panel must never apply it.
        window_->disconnect();
        window_->reject();
        window_->deleteLater();
    }
    auto* view = new ToolOptionsView(ToolSession(tool, urls));
    view->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(view, &QDialog::accepted, view, [view, apply = std::move(apply)] {
        apply(view->session().params);
        view->close();
    });
    QObject::connect(view, &QDialog::rejected, view, &QWidget::close);
    window_ = view;
    if (auto* screen = WindowPlaces::screenForNew())
        view->move(WindowPlaces::centred(view->frameGeometry().size(), screen->availableGeometry()));
    view->show();
    view->raise();
    view->activateWindow();
}
