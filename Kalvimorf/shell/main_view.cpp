#include "shell/main_view.h"

#include "menus/action_chooser.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "platform/drop_offers.h"
#include "shell/app_commands.h"
#include "shell/app_model.h"
#include "shell/drop_zone.h"
#include "shell/how_to.h"
#include "shell/mode_tabs.h"
#include "shell/selection_view.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGraphicsOpacityEffect>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

MainView::Chooser& installedChooser()
{
    static MainView::Chooser chooser = &MainView::chooseWithDialog;
    return chooser;
}

}

MainView::MainView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setFixedSize(contentWidth, contentHeight);
    setAcceptDrops(true);
    DropOffers::takeMovesAsCopies();
    setFont(Draw::font(13));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    tabs_ = new ModeTabs(model_);
    column->addWidget(tabs_);
    auto* middle = new QWidget;
    stack_ = new QStackedLayout(middle);
    stack_->setContentsMargins(0, 0, 0, 0);
    dropZone_ = new DropZone(model_);
    selection_ = new SelectionView(model_);
    stack_->addWidget(dropZone_);
    stack_->addWidget(selection_);
    column->addWidget(middle, 1);
    howTo_ = new HowToView;
    column->addWidget(howTo_);
    connect(dropZone_, &DropZone::chooseRequested, this, &MainView::choose);
    entrance_ = responseSpring(0.42, 0.86, 1);
    ticker_ = std::make_unique<SpringTicker>(std::vector<Spring*>{&entrance_}, [this] {
        stepEntrance();
    });
    connect(&model_, &AppModel::changed, this, &MainView::follow);
    // A changed theme or appearance shows at the next paint of every part.
    connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, this, [this] {
        tint();
        for (auto* child : findChildren<QWidget*>())
            child->update();
    });
    tint();
    stack_->setCurrentWidget(model_.files().empty() ? static_cast<QWidget*>(dropZone_) : selection_);
}

void MainView::tint()
{
    // Buttons, focus rings and selections inside take the theme's colour.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Highlight, ViewColors::current(this).accent);
    setPalette(palette);
}

void MainView::follow()
{
    QWidget* wanted = model_.files().empty() ? static_cast<QWidget*>(dropZone_) : selection_;
    if (stack_->currentWidget() == wanted)
        return;
    if (auto* leaving = stack_->currentWidget())
        leaving->setGraphicsEffect(nullptr);
    stack_->setCurrentWidget(wanted);
    auto* fade = new QGraphicsOpacityEffect(wanted);
    fade->setOpacity(0);
    wanted->setGraphicsEffect(fade);
    entrance_.value = 0;
    entrance_.velocity = 0;
    ticker_->aim(entrance_, 1);
}

void MainView::stepEntrance()
{
    auto* page = stack_->currentWidget();
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(page->graphicsEffect());
    if (!fade)
        return;
    // The grid also rises from the bottom edge; the middle clips it on the way.
    const int rise = page == selection_ ? int(std::max(0.0, 1 - entrance_.value) * page->parentWidget()->height()) : 0;
    page->move(0, rise);
    if (entrance_.atRest())
        // At rest the part paints straight, with nothing in between.
        page->setGraphicsEffect(nullptr);
    else
        fade->setOpacity(Draw::clamp01(entrance_.value));
}

void MainView::setChooser(Chooser chooser) { installedChooser() = chooser ? std::move(chooser) : &chooseWithDialog; }

namespace {

// Hands the key presses of a widget to `take`, which answers whether it used them.
class KeyWatch final : public QObject {
public:
    explicit KeyWatch(std::function<bool(QKeyEvent&)> take) : take_(std::move(take)) { }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->type() == QEvent::KeyPress && take_(static_cast<QKeyEvent&>(*event));
    }

private:
    std::function<bool(QKeyEvent&)> take_;
};

}

std::optional<std::vector<std::filesystem::path>> MainView::chooseWithDialog(QWidget* parent)
{
    // The desktop's own dialogs pick files or folders, never both at once: Qt's dialog in
    // directory mode shows files too, and its views are opened up to take any mix.
    // Where the last choice was made, for as long as the program runs; at first the home folder,
    // never whatever folder the program happened to be started from.
    static QString lastFolder;
    QFileDialog dialog(parent, AppCommands::chooseFiles, lastFolder.isEmpty() ? QDir::homePath() : lastFolder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, false);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Procurar em:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Nome:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Abrir"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
    // Its only type would read "Diretórios", untrue here: files are chosen too.
    for (const char* name : {"fileTypeCombo", "fileTypeLabel"})
        if (auto* row = dialog.findChild<QWidget*>(name))
            row->hide();
    std::vector<std::filesystem::path> picked;
    // A path typed whole and confirmed with Return: a file is chosen, a folder is entered (its
    // "Abrir" then chooses it), anything else stays for the user to mend. In directory mode the
    // dialog would ignore a file and close on a folder without handing it over.
    auto* typed = dialog.findChild<QLineEdit*>("fileNameEdit");
    KeyWatch typedReturn([&](QKeyEvent& key) {
        if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter)
            return false;
        QString text = typed->text().trimmed();
        if (text.isEmpty() || text.startsWith('"'))
            return false;  // nothing typed, or several names quoted: the usual way
        // The dialog has resolved what was typed (against the folder shown, "~" too) and
        // selected it, a whole path's parent folder and all; failing that, the text itself.
        const auto resolved = dialog.selectedFiles();
        if (text == "~" || text.startsWith("~/"))
            text = QDir::homePath() + text.mid(1);
        QFileInfo info(QDir(dialog.directory()).absoluteFilePath(text));
        if (resolved.size() == 1 && QFileInfo::exists(resolved.front()))
            info = QFileInfo(resolved.front());
        if (auto* completer = typed->completer())
            completer->popup()->hide();
        if (info.isDir()) {
            dialog.setDirectory(info.absoluteFilePath());
            typed->clear();
        } else if (info.exists()) {
            picked.emplace_back(QDir::cleanPath(info.absoluteFilePath()).toStdString());
            static_cast<QDialog&>(dialog).done(QDialog::Accepted);
        }
        return true;
    });
    if (typed) {
        typed->installEventFilter(&typedReturn);
        // With the completion list up its Return goes to the list, whose completer hands it to the
        // line straight past the line's filters, and the dialog then takes it its own way. Filters
        // run newest first: this one sees the key before the completer's.
        if (auto* completer = typed->completer())
            completer->popup()->installEventFilter(&typedReturn);
    }
    fitFileColumns(dialog);
    auto* fileModel = dialog.findChild<QFileSystemModel*>();
    for (auto* view : dialog.findChildren<QAbstractItemView*>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    if (auto* buttons = dialog.findChild<QDialogButtonBox*>())
        if (auto* open = buttons->button(QDialogButtonBox::Open)) {
            open->disconnect();
            // The dialog greys its button whenever a file is among the picks in directory mode;
            // these run after its own updates and give the button back.
            auto keepOpen = [open] {
                open->setEnabled(true);
            };
            if (auto* list = dialog.findChild<QAbstractItemView*>("listView"))
                QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, open, keepOpen);
            if (auto* name = dialog.findChild<QLineEdit*>("fileNameEdit"))
                QObject::connect(name, &QLineEdit::textChanged, open, keepOpen);
            QObject::connect(open, &QPushButton::clicked, &dialog, [&] {
                // The view on show (list or details), in the order the user picked.
                for (const char* name : {"listView", "treeView"}) {
                    auto* view = dialog.findChild<QAbstractItemView*>(name);
                    if (!view || !view->isVisible() || !fileModel || !picked.empty())
                        continue;
                    for (const auto& index : view->selectionModel()->selectedIndexes())
                        if (index.column() == 0)
                            picked.emplace_back(fileModel->filePath(index).toStdString());
                }
                if (picked.empty())
                    for (const auto& file : dialog.selectedFiles())
                        picked.emplace_back(file.toStdString());
                static_cast<QDialog&>(dialog).done(QDialog::Accepted);
            });
        }
    if (dialog.exec() != QDialog::Accepted || picked.empty())
        return std::nullopt;
    lastFolder = QFileInfo(QString::fromStdString(picked.front().string())).absolutePath();
    return picked;
}

std::vector<std::filesystem::path> MainView::dropped(const QList<QUrl>& urls)
{
    struct Named {
        std::u32string key;
        std::filesystem::path path;
    };
    std::vector<Named> files;
    for (const auto& url : urls)
        if (url.isLocalFile()) {
            // A folder dropped with a trailing slash still names itself.
            QString local = url.toLocalFile();
            while (local.size() > 1 && local.endsWith('/'))
                local.chop(1);
            const std::filesystem::path path(local.toStdString());
            files.push_back({QString::fromStdString(path.filename().string())
                                 .normalized(QString::NormalizationForm_C)
                                 .toStdU32String(),
                path});
        }
    std::stable_sort(files.begin(), files.end(), [](const Named& a, const Named& b) {
        return a.key < b.key;
    });
    std::vector<std::filesystem::path> result;
    for (auto& file : files)
        result.push_back(std::move(file.path));
    return result;
}

void MainView::loadURLs(const QList<QUrl>& urls)
{
    auto files = dropped(urls);
    // Web links and text alone leave the selection as it was.
    if (!files.empty())
        model_.setFiles(std::move(files));
}

void MainView::choose()
{
    if (auto files = installedChooser()(this))
        model_.setFiles(std::move(*files));
}

void MainView::dragEnterEvent(QDragEnterEvent* event)
{
    const auto action = DropOffers::action(event->possibleActions());
    if (!dragged_.enter(event->mimeData()) || !action)
        return;
    event->setDropAction(*action);
    event->accept();
    model_.setDropTargeted(true);
}

void MainView::dragMoveEvent(QDragMoveEvent* event)
{
    const auto action = DropOffers::action(event->possibleActions());
    if (!action || dragged_.at(event->mimeData()).empty())
        return event->ignore();
    event->setDropAction(*action);
    event->accept();
}

void MainView::dragLeaveEvent(QDragLeaveEvent*) { model_.setDropTargeted(false); }

void MainView::dropEvent(QDropEvent* event)
{
    model_.setDropTargeted(false);
    const auto action = DropOffers::action(event->possibleActions());
    if (!action)
        return event->ignore();
    event->setDropAction(*action);
    event->accept();
    auto urls = event->mimeData() ? event->mimeData()->urls() : QList<QUrl>{};
    // A source that went on hands nothing for the drop's own time: the files a position read
    // are the drop's.
    if (urls.isEmpty())
        for (const auto& path : dragged_.dropped(event->mimeData()))
            urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
    loadURLs(urls);
}
