#include "tools/tool_panel.h"

#include "platform/window_places.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

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

// A picker shown as a row of exclusive buttons, bound to `field`.
template <typename Value>
QWidget* segmented(
    const std::vector<std::pair<const char*, Value>>& options, Value& field, std::function<void()> changed = {})
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* group = new QButtonGroup(row);
    group->setExclusive(true);
    for (const auto& [label, value] : options) {
        auto* button = new QPushButton(QString::fromUtf8(label));
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

std::vector<std::pair<QString, int>> pixels(std::initializer_list<int> sides)
{
    std::vector<std::pair<QString, int>> options;
    for (int side : sides)
        options.push_back({QString::number(side) + QStringLiteral(" px"), side});
    return options;
}

std::vector<std::pair<const char*, int>> qualities() { return {{"Alta", 85}, {"Média", 70}, {"Baixa", 50}}; }

}

ToolSession::ToolSession(Tool tool, std::vector<std::filesystem::path> urls) : tool(tool), urls(std::move(urls))
{
    // Compression starts from the original size and video from 1080p, unlike the runner's defaults.
    if (tool == Tool::imgCompress)
        params.maxSide = 0;
    else if (tool == Tool::vidCompress)
        params.resolution = 1080;
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
    switch (session_.tool) {
    case Tool::imgCompress:
        layout->addWidget(heading(QStringLiteral("Qualidade")));
        layout->addWidget(segmented(qualities(), params.quality));
        layout->addWidget(heading(QStringLiteral("Tamanho máximo")));
        layout->addWidget(popUp<int>(
            {{QStringLiteral("Original"), 0}, {QStringLiteral("3840 px"), 3840}, {QStringLiteral("2560 px"), 2560},
                {QStringLiteral("1920 px"), 1920}, {QStringLiteral("1280 px"), 1280}},
            params.maxSide));
        layout->addWidget(caption(QStringLiteral("PNG não tem compressão com perda: só o tamanho é reduzido.")));
        return;
    case Tool::imgResize: {
        // The hidden picker keeps its value, so switching back shows the earlier choice.
        auto* pickers = new QStackedWidget;
        auto* sidePage = new QWidget;
        auto* sideLayout = new QVBoxLayout(sidePage);
        sideLayout->setContentsMargins(0, 0, 0, 0);
        sideLayout->addWidget(heading(QStringLiteral("Lado maior")));
        sideLayout->addWidget(popUp(pixels({3840, 2560, 1920, 1600, 1280, 1080, 720, 512}), params.maxSide));
        auto* scalePage = new QWidget;
        auto* scaleLayout = new QVBoxLayout(scalePage);
        scaleLayout->setContentsMargins(0, 0, 0, 0);
        scaleLayout->addWidget(heading(QStringLiteral("Escala")));
        std::vector<std::pair<QString, int>> percents;
        for (int percent : {75, 50, 33, 25, 10})
            percents.push_back({QString::number(percent) + QStringLiteral("%"), percent});
        scaleLayout->addWidget(popUp(percents, params.scalePercent));
        pickers->addWidget(sidePage);
        pickers->addWidget(scalePage);
        const auto follow = [pickers, &params] {
            pickers->setCurrentIndex(params.useMaxSide ? 0 : 1);
        };
        layout->addWidget(heading(QStringLiteral("Modo")));
        layout->addWidget(segmented<bool>({{"Lado maior", true}, {"Porcentagem", false}}, params.useMaxSide, follow));
        layout->addWidget(pickers);
        follow();
        return;
    }
    case Tool::imgCrop: {
        std::vector<std::pair<QString, std::string>> aspects;
        for (const char* aspect : {"1:1", "4:5", "3:4", "2:3", "16:9", "9:16", "4:3", "3:2"})
            aspects.push_back({QString::fromUtf8(aspect), aspect});
        layout->addWidget(heading(QStringLiteral("Proporção")));
        layout->addWidget(popUp(aspects, params.aspect));
        layout->addWidget(caption(QStringLiteral("Recorte centralizado.")));
        return;
    }
    case Tool::vidCompress:
        layout->addWidget(heading(QStringLiteral("Qualidade")));
        layout->addWidget(segmented(qualities(), params.quality));
        layout->addWidget(heading(QStringLiteral("Resolução máxima")));
        layout->addWidget(popUp<int>({{QStringLiteral("Original"), 0}, {QStringLiteral("1080p"), 1080},
                                         {QStringLiteral("720p"), 720}, {QStringLiteral("480p"), 480}},
            params.resolution));
        layout->addWidget(caption(QStringLiteral("Saída em MP4 (HEVC), com o codificador de software x265.")));
        return;
    case Tool::pdfExtract: {
        layout->addWidget(heading(QStringLiteral("Páginas")));
        auto* field = new QLineEdit(QString::fromStdString(params.pages));
        field->setFont(inter(9.5));
        connect(field, &QLineEdit::textChanged, this, [&params](const QString& text) {
            params.pages = text.toStdString();
        });
        layout->addWidget(field);
        layout->addWidget(caption(QStringLiteral("Ex.: 1-3, 5, 8-  (8- = da 8 até o fim)")));
        return;
    }
    case Tool::imgRotate:
    case Tool::imgStrip:
    case Tool::imgBlurFaces:
    case Tool::vidTrim:
    case Tool::vidMute:
    case Tool::vidRotate:
    case Tool::vidJoin:
    case Tool::audTrim:
    case Tool::audNormalize:
    case Tool::audJoin:
    case Tool::pdfCompress:
    case Tool::pdfSplit:
    case Tool::pdfRotate: return;
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
