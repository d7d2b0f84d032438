#include "shell/selection_view.h"

#include "core/base/catalog.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "menus/wheel_controller.h"
#include "shell/app_model.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace Selection {

namespace {

std::string subtitleFor(WheelMode mode)
{
    switch (mode) {
    case WheelMode::convert: return "Converter para:";
    case WheelMode::tools: return "Ferramentas:";
    case WheelMode::actions: return "Ações:";
    }
    return {};
}

}

const std::vector<std::optional<QualityLevel>>& pickerChoices()
{
    static const std::vector<std::optional<QualityLevel>> choices = [] {
        std::vector<std::optional<QualityLevel>> list{std::nullopt};
        for (auto level : QualityLevels::all())
            list.emplace_back(level);
        return list;
    }();
    return choices;
}

SelectionContent content(
    WheelMode mode, const std::vector<std::filesystem::path>& files, std::optional<QualityLevel> quality)
{
    auto [entries, empty] = WheelController::offered(mode, files);
    SelectionContent result;
    result.title = Catalog::describe(files);
    result.subtitle = entries.empty() ? "Nada disponível aqui" : subtitleFor(mode);
    result.showsQuality = mode == WheelMode::convert && std::any_of(entries.begin(), entries.end(), [](const auto& e) {
        return e.quality.has_value();
    });
    if (entries.empty()) {
        if (mode == WheelMode::convert)
            result.message
                = "Selecione arquivos de um mesmo grupo (só imagens, só vídeos, só documentos…) para converter juntos.";
        else {
            result.message = empty;
            std::replace(result.message.begin(), result.message.end(), '\n', ' ');
        }
    }
    for (const auto& entry : entries) {
        FormatTile tile;
        tile.tooltip = entry.detail.value_or(entry.label);
        if (mode == WheelMode::convert) {
            tile.twoLines = true;
            tile.label = entry.label;
            if (entry.quality) {
                const auto level = quality.value_or(Quality::saved(*entry.quality));
                tile.detail = QualityLevels::displayName(level) + " · " + QualityGroups::detail(*entry.quality, level);
            }
        } else {
            tile.label = entry.detail.value_or(entry.label);
        }
        result.tiles.push_back(std::move(tile));
    }
    result.entries = std::move(entries);
    return result;
}

void run(const WheelEntry& entry, const std::vector<std::filesystem::path>& files, std::optional<QualityLevel> quality)
{
    if (quality && entry.runWithQuality)
        entry.runWithQuality(files, *quality);
    else if (entry.run)
        entry.run(files);
}

}

// The selection's icon, name and what the grid offers; the name is cut in the middle.
class SelectionHeader : public QWidget {
public:
    explicit SelectionHeader(QWidget* parent = nullptr) : QWidget(parent)
    {
        setFixedHeight(48);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void set(const std::filesystem::path& first, const std::string& title, const std::string& subtitle)
    {
        icon_ = iconFor(first);
        title_ = QString::fromStdString(title);
        subtitle_ = QString::fromStdString(subtitle);
        update();
    }

    // Files that are not there get the icon of their type, judged by the name.
    static QIcon iconFor(const std::filesystem::path& path)
    {
        const QFileInfo info(QString::fromStdString(path.string()));
        QFileIconProvider provider;
        if (info.exists())
            return provider.icon(info);
        const auto mime = QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
        return QIcon::fromTheme(
            mime.iconName(), QIcon::fromTheme(mime.genericIconName(), provider.icon(QFileIconProvider::File)));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const auto colors = ViewColors::current(this);
        icon_.paint(&painter, QRect(0, 0, 48, 48));
        const QFont titleFont = Draw::font(13, QFont::Bold);
        const QFont subtitleFont = Draw::font(13);
        const double titleHeight = QFontMetricsF(titleFont).height();
        const double subtitleHeight = QFontMetricsF(subtitleFont).height();
        const double x = 60, textWidth = width() - x;
        double y = (height() - titleHeight - 2 - subtitleHeight) / 2;
        painter.setFont(titleFont);
        painter.setPen(colors.primary);
        painter.drawText(QRectF(x, y, textWidth, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetricsF(titleFont).elidedText(title_, Qt::ElideMiddle, textWidth));
        painter.setFont(subtitleFont);
        painter.setPen(colors.secondary);
        painter.drawText(
            QRectF(x, y + titleHeight + 2, textWidth, subtitleHeight), Qt::AlignLeft | Qt::AlignVCenter, subtitle_);
    }

private:
    QIcon icon_;
    QString title_;
    QString subtitle_;
};

QualityPicker::QualityPicker(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(24);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    focus_ = new ItemFocus(
        *this,
        [] {
            return int(Selection::pickerChoices().size());
        },
        [this](int index) {
            choose(index);
        });
}

int QualityPicker::focusedSegment() const { return focus_->current(); }

void QualityPicker::choose(int index)
{
    choice_ = Selection::pickerChoices()[size_t(index)];
    update();
    if (onChoose)
        onChoose(choice_);
}

QSize QualityPicker::sizeHint() const { return {360, 24}; }

void QualityPicker::setChoice(std::optional<QualityLevel> choice)
{
    choice_ = choice;
    update();
}

QRectF QualityPicker::segmentRect(int index) const
{
    const double width = (this->width() - 4) / 5.0;
    return QRectF(2 + index * width, 2, width, height() - 4);
}

void QualityPicker::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const auto colors = ViewColors::current(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Draw::withAlpha(colors.primary, 0.08));
    painter.drawRoundedRect(QRectF(rect()), 7, 7);
    const auto& choices = Selection::pickerChoices();
    const QFont font = Draw::font(12, QFont::Medium);
    painter.setFont(font);
    for (size_t i = 0; i < choices.size(); ++i) {
        const QRectF segment = segmentRect(int(i));
        const bool chosen = choices[i] == choice_;
        if (chosen) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colors.dark ? QColor::fromRgbF(1, 1, 1, 0.22f) : QColor(Qt::white));
            painter.drawRoundedRect(segment, 5, 5);
        }
        if (int(i) == focusedSegment())
            ItemFocus::paintRing(painter, segment.adjusted(1, 1, -1, -1), 4, colors);
        painter.setPen(colors.primary);
        const QString name = choices[i] ? QString::fromStdString(QualityLevels::displayName(*choices[i])) : "Padrão";
        painter.drawText(segment, Qt::AlignCenter, name);
    }
}

void QualityPicker::mousePressEvent(QMouseEvent* event)
{
    for (int i = 0; i < 5; ++i)
        if (segmentRect(i).contains(event->position()))
            choose(i);
}

SelectionView::SelectionView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);

    auto* headerRow = new QHBoxLayout;
    headerRow->setSpacing(12);
    header_ = new SelectionHeader;
    clear_ = new QPushButton("Limpar");
    clear_->setFont(Draw::font(13));
    // Return presses it when the keyboard is on it, as Space does.
    clear_->setAutoDefault(true);
    headerRow->addWidget(header_, 1);
    headerRow->addWidget(clear_);
    column->addLayout(headerRow);
    connect(clear_, &QPushButton::clicked, this, [this] {
        model_.setFiles({});
    });

    qualityRow_ = new QWidget;
    auto* qualityLayout = new QHBoxLayout(qualityRow_);
    qualityLayout->setContentsMargins(0, 0, 0, 0);
    qualityLayout->setSpacing(10);
    auto* qualityLabel = new QLabel("Qualidade");
    qualityLabel->setFont(Draw::font(12, QFont::Medium));
    qualityLabel->setForegroundRole(QPalette::PlaceholderText);
    picker_ = new QualityPicker;
    picker_->onChoose = [this](std::optional<QualityLevel> level) {
        model_.setQuality(level);
    };
    qualityLayout->addWidget(qualityLabel);
    qualityLayout->addWidget(picker_, 1);
    qualityRow_->setToolTip("Padrão: a qualidade definida em Ajustes › Qualidade para cada formato.");
    column->addWidget(qualityRow_);

    grid_ = new FormatGrid;
    grid_->onClick = [this](int index) {
        if (size_t(index) < content_.entries.size()) {
            // Copied: the work it starts may show a dialog, during which the model may change.
            const WheelEntry entry = content_.entries[size_t(index)];
            Selection::run(entry, model_.files(), model_.quality());
        }
    };
    scroll_ = new QScrollArea;
    scroll_->setWidget(grid_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    // The tiles are the stops of the keyboard's round, not the area around them.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }");
    column->addWidget(scroll_, 1);

    message_ = new QLabel;
    message_->setWordWrap(true);
    message_->setFont(Draw::font(13));
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    column->addWidget(message_);
    column->addStretch(0);

    connect(&model_, &AppModel::changed, this, &SelectionView::refresh);
    // The message's colour is set, so it does not follow a new appearance by itself.
    connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, this, &SelectionView::tintMessage);
    refresh();
}

void SelectionView::tintMessage()
{
    QPalette palette = message_->palette();
    palette.setColor(QPalette::WindowText, ViewColors::current(this).secondary);
    message_->setPalette(palette);
}

void SelectionView::refresh()
{
    if (model_.files().empty())
        return;
    content_ = Selection::content(model_.mode(), model_.files(), model_.quality());
    header_->set(model_.files().front(), content_.title, content_.subtitle);
    qualityRow_->setVisible(content_.showsQuality);
    picker_->setChoice(model_.quality());
    const bool empty = content_.entries.empty();
    scroll_->setVisible(!empty);
    message_->setVisible(empty);
    message_->setText(QString::fromStdString(content_.message));
    tintMessage();
    grid_->setTiles(content_.tiles);
}
