#include "core/base/settings.h"
#include "core/state/settings_model.h"
#include "menus/drawing_kit.h"
#include "shell/app_model.h"
#include "shell/drop_zone.h"
#include "shell/format_grid.h"
#include "shell/how_to.h"
#include "shell/main_view.h"
#include "shell/main_window.h"
#include "shell/mode_tabs.h"
#include "shell/selection_view.h"
#include "menus/action_chooser.h"
#include "platform/qt_translations.h"
#include "settings/folder_chooser.h"
#include "support/test_support.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QCompleter>
#include <QListWidget>
#include <QTreeView>
#include <QHeaderView>
#include <QDir>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <set>

using namespace TestSupport;

namespace {

const bool widgets = wantWidgets();

QList<QUrl> urls(const std::vector<fs::path>& paths)
{
    QList<QUrl> list;
    for (const auto& path : paths)
        list << QUrl::fromLocalFile(QString::fromStdString(path.string()));
    return list;
}

void drop(QWidget& target, const QList<QUrl>& list)
{
    QMimeData data;
    data.setUrls(list);
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    QDropEvent dropped(QPointF(100, 100), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &dropped);
    EXPECT_EQ(dropped.dropAction(), Qt::CopyAction) << "a move would let the source delete the files";
}

std::vector<std::string> names(const std::vector<fs::path>& paths)
{
    std::vector<std::string> result;
    for (const auto& path : paths)
        result.push_back(path.filename().string());
    return result;
}

}

TEST(MainWindowDrop, SortsByNameKeepsTwinsAndFoldersAndIgnoresLinks)
{
    TempDir dir;
    fs::create_directories(dir / "um");
    fs::create_directories(dir / "dois");
    fs::create_directories(dir / "pasta");
    for (const char* name : {"b.png", "A.png", "a.png"})
        writeFile(dir / name, "x");
    writeFile(dir / "um" / "foto.png", "1");
    writeFile(dir / "dois" / "foto.png", "2");
    // "é" written decomposed sorts as the composed letter, after "f" by code point.
    writeFile(dir / "e\u0301.png", "x");
    AppModel model;
    MainView view(model);

    drop(view, urls({dir / "b.png", dir / "A.png", dir / "a.png"}));
    EXPECT_EQ(names(model.files()), (std::vector<std::string>{"A.png", "a.png", "b.png"}));
    EXPECT_FALSE(model.dropTargeted());

    drop(view, urls({dir / "dois" / "foto.png", dir / "pasta", dir / "um" / "foto.png", dir / "e\u0301.png"}));
    EXPECT_EQ(model.files(),
        (std::vector<fs::path>{dir / "dois" / "foto.png", dir / "um" / "foto.png", dir / "pasta", dir / "e\u0301.png"}))
        << "twins stay in drop order; the folder is kept, not opened; the selection is replaced";

    drop(view, {QUrl("https://example.org/a.png"), QUrl("https://example.org/b.png")});
    EXPECT_EQ(model.files().size(), 4u) << "links alone leave the selection";
    // A source that went on before the drop hands nothing for the drop's time (its list reads
    // empty): the files a position read are dropped, not nothing.
    QMimeData early, late;
    early.setUrls(urls({dir / "b.png"}));
    late.setData("text/uri-list", {});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &early, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    QDragMoveEvent move(QPoint(100, 100), Qt::CopyAction, &early, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &move);
    QDropEvent lateDrop(QPointF(100, 100), Qt::CopyAction, &late, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &lateDrop);
    EXPECT_EQ(model.files(), (std::vector<fs::path>{dir / "b.png"}));
}

TEST(MainWindowDrop, HoverFlagFollowsTheDragAndTheChooserKeepsItsOrder)
{
    TempDir dir;
    AppModel model;
    MainView view(model);
    QMimeData files;
    files.setUrls(urls({dir / "a.png"}));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    EXPECT_TRUE(model.dropTargeted());
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&view, &leave);
    EXPECT_FALSE(model.dropTargeted());
    QMimeData text;
    text.setText("só texto");
    QDragEnterEvent textEnter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &textEnter);
    EXPECT_FALSE(model.dropTargeted());
    EXPECT_FALSE(textEnter.isAccepted());

    const std::vector<fs::path> chosen{dir / "z.png", dir / "pasta", dir / "a.png"};
    MainView::setChooser([&](QWidget*) {
        return std::optional(chosen);
    });
    QTest::mouseClick(view.dropZone()->chooseButton(), Qt::LeftButton);
    EXPECT_EQ(model.files(), chosen);
    MainView::setChooser([](QWidget*) {
        return std::optional<std::vector<fs::path>>();
    });
    view.choose();
    EXPECT_EQ(model.files(), chosen) << "a cancelled chooser changes nothing";
    MainView::setChooser(nullptr);
}

TEST(MainWindowTabs, KeySymbolsAndTooltipsFollowTheKeySettings)
{
    const auto tools = ModeTabTexts::tab(WheelMode::tools, true, TriggerKey::command);
    EXPECT_EQ(tools.title, "Ferramentas");
    EXPECT_EQ(tools.symbol, "❖");
    EXPECT_EQ(tools.tooltip, "Atalho: arraste um arquivo e segure ❖ Super");
    EXPECT_EQ(ModeTabTexts::tab(WheelMode::convert, true, TriggerKey::shift).symbol, "⇧");
    EXPECT_EQ(ModeTabTexts::tab(WheelMode::actions, true, TriggerKey::control).tooltip,
        "Atalho: arraste um arquivo e segure ⌃ Ctrl");
    EXPECT_EQ(ModeTabTexts::tab(WheelMode::convert, true, TriggerKey::option).symbol, "⎇");

    const auto single = ModeTabTexts::tab(WheelMode::convert, false, TriggerKey::shift);
    EXPECT_EQ(single.symbol, "");
    EXPECT_EQ(single.tooltip, "Converter");
    const auto off = ModeTabTexts::tab(WheelMode::actions, true, TriggerKey::off);
    EXPECT_EQ(off.symbol, "");
    EXPECT_EQ(off.tooltip, "Ações");

    // A click on a tab is the one way the window's mode changes.
    AppModel model;
    MainView view(model);
    view.show();
    auto* tabs = view.tabs();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, ModeTabsDrawing::tabRect(tabs->rect(), 2).center().toPoint());
    EXPECT_EQ(model.mode(), WheelMode::actions);
    EXPECT_EQ(tabs->look().selected, WheelMode::actions);
    SettingsModel::shared().setSeparateKeys(false);
    EXPECT_EQ(tabs->look().tabs[1].symbol, "") << "read at every paint";
    SettingsModel::shared().setSeparateKeys(true);
}

TEST(MainWindowGrid, WhatASelectionOffersAndSays)
{
    TempDir dir;
    for (const char* name : {"foto.png", "b.png", "som.mp3", "texto.docx"})
        writeFile(dir / name, "x");
    const std::vector<fs::path> mixed{dir / "foto.png", dir / "som.mp3"};

    const auto none = Selection::content(WheelMode::convert, mixed, std::nullopt);
    EXPECT_EQ(none.subtitle, "Nada disponível aqui");
    EXPECT_FALSE(none.showsQuality);
    EXPECT_EQ(none.message,
        "Selecione arquivos de um mesmo grupo (só imagens, só vídeos, só documentos…) para converter juntos.");
    EXPECT_EQ(Selection::content(WheelMode::tools, mixed, std::nullopt).message, "Sem ferramentas para esta seleção");

    const auto documents = Selection::content(WheelMode::convert, {dir / "texto.docx"}, QualityLevel::web);
    EXPECT_FALSE(documents.entries.empty());
    EXPECT_FALSE(documents.showsQuality);
    for (const auto& tile : documents.tiles)
        EXPECT_EQ(tile.detail, "") << tile.label;

    const auto one = Selection::content(WheelMode::convert, {dir / "foto.png"}, std::nullopt);
    EXPECT_EQ(one.title, "foto.png");
    EXPECT_EQ(one.subtitle, "Converter para:");
    EXPECT_TRUE(one.showsQuality);
    EXPECT_EQ(
        Selection::content(WheelMode::convert, {dir / "foto.png", dir / "b.png"}, std::nullopt).title, "2 imagens");
    Defaults::set(SettingKey::quality, "jpg", "light");
    const auto web = Selection::content(WheelMode::convert, {dir / "foto.png"}, QualityLevel::web);
    for (size_t i = 0; i < one.entries.size(); ++i) {
        const auto& tile = one.tiles[i];
        if (one.entries[i].label == "JPG") {
            EXPECT_EQ(one.tiles[i].detail.rfind("Alta · ", 0), 0u) << "read before the saved level changed";
        }
        if (one.entries[i].quality)
            EXPECT_EQ(web.tiles[i].detail.rfind("Web · ", 0), 0u) << tile.label;
        else
            EXPECT_EQ(web.tiles[i].detail, "") << tile.label;
    }
    const auto saved = Selection::content(WheelMode::convert, {dir / "foto.png"}, std::nullopt);
    const auto jpg = std::find_if(saved.entries.begin(), saved.entries.end(), [](auto& e) {
        return e.label == "JPG";
    });
    ASSERT_NE(jpg, saved.entries.end());
    EXPECT_EQ(saved.tiles[size_t(jpg - saved.entries.begin())].detail.rfind("Leve · ", 0), 0u);
    Defaults::remove(SettingKey::quality, "jpg");

    const auto actions = Selection::content(WheelMode::actions, {dir / "foto.png"}, QualityLevel::max);
    EXPECT_EQ(actions.subtitle, "Ações:");
    EXPECT_FALSE(actions.showsQuality);
    for (size_t i = 0; i < actions.entries.size(); ++i)
        EXPECT_EQ(actions.tiles[i].label, actions.entries[i].detail.value_or(actions.entries[i].label));
}

TEST(MainWindowGrid, TheClickRuleGivesAQualityOnlyWhereItIsTaken)
{
    std::vector<std::string> calls;
    const WheelEntry withQuality{"JPG", std::nullopt, QualityGroup::jpg,
        [&](const WheelEntry::Paths& files, QualityLevel level) {
            calls.push_back("quality " + QualityLevels::rawValue(level) + " " + std::to_string(files.size()));
        },
        [&](const WheelEntry::Paths& files) {
            calls.push_back("plain " + std::to_string(files.size()));
        }};
    WheelEntry plainOnly = withQuality;
    plainOnly.runWithQuality = nullptr;
    const std::vector<fs::path> files{"/tmp/a.png", "/tmp/b.png"};
    Selection::run(withQuality, files, std::nullopt);
    Selection::run(withQuality, files, QualityLevel::web);
    Selection::run(plainOnly, files, QualityLevel::web);
    EXPECT_EQ(calls, (std::vector<std::string>{"plain 2", "quality web 2", "plain 2"}));
}

TEST(MainWindowGrid, ModeSwitchesAndClearingKeepTheQuality)
{
    TempDir dir;
    writeFile(dir / "foto.png", "x");
    AppModel model;
    MainView view(model);
    view.show();
    model.setFiles({dir / "foto.png"});
    QCoreApplication::processEvents();
    auto* selection = view.selection();
    EXPECT_TRUE(selection->isVisible());
    auto* picker = selection->picker();
    ASSERT_TRUE(picker->isVisible());
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(3).center().toPoint());
    EXPECT_EQ(model.quality(), QualityLevel::web);

    model.setMode(WheelMode::tools);
    EXPECT_FALSE(picker->isVisible());
    EXPECT_EQ(model.quality(), QualityLevel::web);
    model.setMode(WheelMode::convert);
    EXPECT_TRUE(picker->isVisible());
    EXPECT_EQ(picker->choice(), QualityLevel::web);

    QTest::mouseClick(selection->clearButton(), Qt::LeftButton);
    EXPECT_TRUE(model.files().empty());
    EXPECT_EQ(model.quality(), QualityLevel::web);
    EXPECT_TRUE(view.dropZone()->isVisible());
}

TEST(MainWindowHowTo, KeyCapsAndDimming)
{
    EXPECT_EQ(HowTo::keycapText(TriggerKey::shift), "⇧ shift");
    EXPECT_EQ(HowTo::keycapText(TriggerKey::command), "❖ super");
    EXPECT_EQ(HowTo::keycapText(TriggerKey::control), "⌃ ctrl");
    EXPECT_EQ(HowTo::keycapText(TriggerKey::option), "⎇ alt");
    EXPECT_EQ(HowTo::keycapText(TriggerKey::off), "—");
    // The key symbols stand alone on the tabs, so the interface's own font must draw them: a
    // fallback face would set them off in another weight and height.
    const QFontMetrics caps(Draw::font(11, QFont::Medium));
    for (const auto key : TriggerKeys::all())
        for (const auto symbol : QString::fromStdString(TriggerKeys::title(key)).toUcs4())
            EXPECT_TRUE(caps.inFontUcs4(symbol)) << TriggerKeys::title(key) << " U+" << std::hex << symbol;

    using K = TriggerKey;
    const auto separate = HowTo::content(true, K::shift, K::shift, K::command, K::control);
    EXPECT_EQ(separate.instruction, "Arraste um arquivo no gerenciador de arquivos e segure:");
    ASSERT_EQ(separate.shortcuts.size(), 3u);
    EXPECT_EQ(separate.shortcuts[1].keycap, "❖ super");
    EXPECT_EQ(separate.shortcuts[1].label, "Ferramentas");
    for (const auto& shortcut : separate.shortcuts)
        EXPECT_EQ(shortcut.opacity, 1.0);

    const auto toolsOff = HowTo::content(true, K::shift, K::shift, K::off, K::control);
    EXPECT_EQ(toolsOff.shortcuts[1].keycap, "—");
    EXPECT_EQ(toolsOff.shortcuts[1].opacity, 0.35);
    EXPECT_EQ(toolsOff.shortcuts[0].opacity, 1.0);
    EXPECT_EQ(toolsOff.shortcuts[2].opacity, 1.0);

    const auto single = HowTo::content(false, K::option, K::shift, K::off, K::control);
    EXPECT_EQ(single.instruction, "Arraste um arquivo no gerenciador de arquivos e toque:");
    ASSERT_EQ(single.shortcuts.size(), 1u);
    EXPECT_EQ(single.shortcuts[0].keycap, "⎇ alt");
    EXPECT_EQ(single.singleHint, "abre o leque · toque de novo para alternar");
    const auto singleOff = HowTo::content(false, K::off, K::shift, K::command, K::control);
    EXPECT_EQ(singleOff.shortcuts[0].keycap, "—");
    EXPECT_EQ(singleOff.shortcuts[0].opacity, 1.0) << "the single key is never dimmed";

    // The cap's face: opaque white in light, a faint white in dark, with its hard lower edge.
    for (bool dark : {false, true}) {
        QImage image(120, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(dark ? QColor(30, 30, 30) : QColor(236, 236, 236));
        {
            QPainter painter(&image);
            HowTo::paintKeycap(painter, QPointF(10, 8), "x", ViewColors::of(dark, Qt::blue));
        }
        const QColor face = image.pixelColor(14, 20), edge = image.pixelColor(20, 32);
        if (dark) {
            EXPECT_GT(face.red(), 40);
            EXPECT_LT(face.red(), 70);
            EXPECT_LT(edge.red(), 30);
        } else {
            EXPECT_EQ(face.red(), 255);
            EXPECT_LT(edge.red(), 230);
        }
    }
}

TEST(MainWindowModel, SelectionAndTabSurviveClosingAndReopening)
{
    TempDir dir;
    writeFile(dir / "foto.png", "x");
    auto& window = MainWindow::shared();
    EXPECT_EQ(window.windowTitle(), "Brivlon");
    window.open({dir / "foto.png"});
    AppModel::shared().setMode(WheelMode::tools);
    EXPECT_TRUE(window.isVisible());
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.present();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(&window, &MainWindow::shared());
    EXPECT_EQ(AppModel::shared().files(), std::vector<fs::path>{dir / "foto.png"});
    EXPECT_EQ(window.view()->tabs()->look().selected, WheelMode::tools);
    EXPECT_TRUE(window.view()->selection()->isVisible());
    EXPECT_EQ(window.view()->selection()->content().subtitle, "Ferramentas:");
    window.close();
}

// Qt's own dialog, opened up to take files and folders in one pick, in the order they were picked.
TEST(MainWindowChooser, TheDialogTakesFilesAndFoldersTogether)
{
    TempDir dir;
    writeFile(dir / "b.txt", "x");
    writeFile(dir / "a.txt", "x");
    fs::create_directories(dir / "pasta");
    const std::vector<fs::path> order{dir / "b.txt", dir / "pasta", dir / "a.txt"};
    QTimer driver;
    QDeadlineTimer deadline(20000);
    bool pointed = false, clicked = false;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        // A dialog that does not close on its button fails the test instead of hanging it.
        if (deadline.hasExpired()) {
            dialog->reject();
            return;
        }
        if (clicked)
            return;
        if (!pointed) {
            dialog->setDirectory(QString::fromStdString(dir.path().string()));
            pointed = true;
        }
        auto* files = dialog->findChild<QFileSystemModel*>();
        auto* view = dialog->findChild<QAbstractItemView*>("listView");
        if (!files || !view)
            return;
        std::vector<QModelIndex> picks;
        for (const auto& path : order)
            picks.push_back(files->index(QString::fromStdString(path.string())));
        // The folder's listing arrives in the background; wait until every entry is there.
        for (const auto& index : picks)
            if (!index.isValid() || !view->model()->hasIndex(index.row(), 0, index.parent()))
                return;
        clicked = true;
        auto* proxy = view->model();
        for (const auto& index : picks) {
            QModelIndex shown = index;
            if (auto* sorted = qobject_cast<QAbstractProxyModel*>(proxy))
                shown = sorted->mapFromSource(index);
            view->selectionModel()->select(shown, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
    });
    driver.start(10);
    const auto chosen = MainView::chooseWithDialog(nullptr);
    ASSERT_TRUE(chosen) << "the dialog was not answered in time";
    EXPECT_EQ(*chosen, order);
}

namespace {

// Runs `open`, which shows a file dialog and waits for it, and has `act` answer the dialog once it is up
// (called again until it returns true); a dialog still open after 20 s is rejected, so that the
// test fails instead of hanging.
template <typename Open>
auto withDialog(Open open, std::function<bool(QFileDialog&)> act)
{
    QTimer driver;
    QDeadlineTimer deadline(20000);
    bool done = false;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QFileDialog* dialog = nullptr;
        for (auto* widget : QApplication::topLevelWidgets())
            if (auto* shown = qobject_cast<QFileDialog*>(widget); shown && shown->isVisible())
                dialog = shown;
        if (!dialog)
            return;
        if (deadline.hasExpired())
            dialog->reject();
        else if (!done)
            done = act(*dialog);
    });
    driver.start(10);
    return open();
}

// Every word a dialog shows or tells: titles, labels, buttons, tips, list headings, the entries
// of its combo boxes and of its side bar.
QStringList wordsOf(QFileDialog& dialog)
{
    QStringList words{dialog.windowTitle()};
    for (auto* widget : dialog.findChildren<QWidget*>()) {
        words << widget->toolTip();
        if (auto* label = qobject_cast<QLabel*>(widget))
            words << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            words << button->text();
        if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->isVisibleTo(&dialog))
            for (int i = 0; i < combo->count(); ++i)
                words << combo->itemText(i);
        if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
            auto* model = view->model();
            for (int i = 0; i < model->columnCount(); ++i)
                words << model->headerData(i, Qt::Horizontal).toString();
            if (widget->objectName() == "sidebar")
                for (int i = 0; i < model->rowCount(); ++i)
                    words << model->index(i, 0).data().toString();
        }
    }
    return words;
}

// Qt's English that its own dialogs show unless they are translated or told otherwise.
std::vector<std::string> englishIn(const QStringList& words)
{
    static const QRegularExpression english(
        "\\b(Look in|Directory|Directories|Files of type|File name|Choose|Cancel|Open|Computer|Name|Size|Type|Kind|"
        "Date Modified|Find|Back|Forward|Parent|Create New Folder|List View|Detail View|Recent Places|Folder)\\b");
    std::vector<std::string> found;
    for (const auto& text : words)
        if (english.match(text).hasMatch())
            found.push_back(text.toStdString());
    return found;
}

}

// The program's file dialogs say every word in Portuguese: their own and Qt's.
TEST(QtDialogs, TheFileDialogsSpeakPortuguese)
{
    QtTranslations::install();
    QStringList chooser, folder, move;
    TempDir dir;
    fs::create_directories(dir / "fotos");
    bool pointed = false;
    withDialog([] { return MainView::chooseWithDialog(nullptr); },
        [&](QFileDialog& dialog) {
            if (!std::exchange(pointed, true)) {
                dialog.setViewMode(QFileDialog::Detail);
                dialog.setDirectory(QString::fromStdString(dir.path().string()));
            }
            // A folder's row as the details list shows it, once its listing has arrived.
            auto* files = dialog.findChild<QFileSystemModel*>();
            const auto kind = files->index(QString::fromStdString((dir / "fotos").string()), 2).data().toString();
            if (kind.isEmpty())
                return false;
            chooser = wordsOf(dialog) << kind;
            dialog.reject();
            return true;
        });
    EXPECT_TRUE(chooser.contains("Pasta"));
    withDialog([] { return askForFolder(QDir::homePath()); }, [&](QFileDialog& dialog) {
        folder = wordsOf(dialog);
        dialog.reject();
        return true;
    });
    ActionChooser::installDialogs();
    withDialog([] { return ActionChooser::shared()->folder("Mover foto.png"); },
        [&](QFileDialog& dialog) {
            dialog.setViewMode(QFileDialog::Detail);
            move = wordsOf(dialog);
            dialog.reject();
            return true;
        });
    ActionChooser::set(nullptr);
    ASSERT_TRUE(chooser.contains("Escolher arquivos…"));
    ASSERT_TRUE(folder.contains("Usar esta pasta"));
    ASSERT_TRUE(move.contains("Mover foto.png"));
    EXPECT_EQ(englishIn(chooser), std::vector<std::string>{});
    EXPECT_EQ(englishIn(folder), std::vector<std::string>{});
    EXPECT_EQ(englishIn(move), std::vector<std::string>{});
}

// The chooser's details list shows a file's size, kind and date whole in its first size.
TEST(QtDialogs, TheChooserShowsSizeKindAndDateWhole)
{
    QtTranslations::install();
    TempDir dir;
    writeFile(dir / "férias na praia.mp4", "");
    fs::resize_file(dir / "férias na praia.mp4", 19'800'000);
    bool pointed = false, checked = false;
    withDialog([] { return MainView::chooseWithDialog(nullptr); },
        [&](QFileDialog& dialog) {
            if (!std::exchange(pointed, true)) {
                dialog.setViewMode(QFileDialog::Detail);
                dialog.setDirectory(QString::fromStdString(dir.path().string()));
            }
            auto* files = dialog.findChild<QFileSystemModel*>();
            const auto row = files->index(QString::fromStdString((dir / "férias na praia.mp4").string()));
            if (files->index(row.row(), 3, row.parent()).data().toString().isEmpty())
                return false;
            auto* details = dialog.findChild<QTreeView*>("treeView");
            details->doItemsLayout();
            auto* header = details->header();
            for (int column = 0; column < 4; ++column) {
                const auto text = files->index(row.row(), column, row.parent()).data().toString();
                const int needed = details->fontMetrics().horizontalAdvance(text) + (column == 0 ? 24 : 0);
                EXPECT_GE(header->sectionSize(column), needed) << text.toStdString();
                EXPECT_GE(header->sectionSize(column), header->sectionSizeHint(column)) << column;
            }
            checked = true;
            dialog.reject();
            return true;
        });
    EXPECT_TRUE(checked);
}

// "Abrir com outro app" draws every entry alike: an icon on each row (a generic one where the entry
// names none, or one the theme lacks), every row as high, the names in one column.
TEST(QtDialogs, TheApplicationListGivesEveryRowAnIconAndOneHeight)
{
    ActionChooser::installDialogs();
    const std::vector<DesktopApp> apps{{"sem.desktop", "Sem ícone", "", {}, {}},
        {"sumido.desktop", "Ícone que falta", "brivlon-icone-que-nao-existe", {}, {}},
        {"pasta.desktop", "Arquivos", "folder", {}, "Navegador de pastas"}};
    std::vector<QListWidget*> seen;
    QStringList texts;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        for (auto* widget : QApplication::topLevelWidgets())
            if (auto* list = widget->isVisible() ? widget->findChild<QListWidget*>() : nullptr) {
                auto* dialog = qobject_cast<QDialog*>(widget);
                if (!dialog)
                    continue;
                std::set<int> heights, lefts;
                for (int row = 0; row < list->count(); ++row) {
                    auto* item = list->item(row);
                    texts << item->text();
                    EXPECT_FALSE(item->icon().pixmap(24).isNull()) << item->text().toStdString();
                    heights.insert(list->visualItemRect(item).height());
                }
                EXPECT_EQ(heights.size(), 1u);
                EXPECT_GE(*heights.begin(), list->iconSize().height());
                seen.push_back(list);
                dialog->reject();
            }
    });
    driver.start(10);
    EXPECT_FALSE(ActionChooser::shared()->application(apps, "Abrir foto.png com…"));
    ActionChooser::set(nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(texts.contains("Arquivos — Navegador de pastas"));
}

// A whole path typed into the chooser and confirmed with Return, the completion list up or not: a
// file's is chosen; a folder's is entered, and the chooser's button then chooses that folder. The
// chooser opens in the home folder, then where the last choice was made.
TEST(MainWindowChooser, ATypedPathChoosesAFileOrEntersAFolder)
{
    TempDir dir;
    writeFile(dir / "nota fiscal.pdf", "x");
    fs::create_directories(dir / "fotos");
    const auto type = [](QFileDialog& dialog, const QString& text) {
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        name->setFocus();
        name->setText(text);
        QTest::keyClick(name, Qt::Key_Return);
    };
    // Typed key by key, as a hand types, so that the completer offers what matches; Return once
    // its list is up, where the list takes it.
    const auto typeWithList = [](QFileDialog& dialog, const QString& text, bool& typed) {
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        if (!std::exchange(typed, true)) {
            // The dialog is the active window, its line in focus, as under a user's hand.
            QApplication::setActiveWindow(&dialog);
            name->setFocus();
            QTest::keyClicks(name, text);
        }
        auto* list = name->completer()->popup();
        if (!list->isVisible())
            return false;
        QTest::keyClick(list, Qt::Key_Return);
        return true;
    };
    const auto file = withDialog([] { return MainView::chooseWithDialog(nullptr); },
        [&](QFileDialog& dialog) {
            EXPECT_EQ(dialog.directory().absolutePath().toStdString(), QDir::homePath().toStdString())
                << "not where the program was started";
            type(dialog, QString::fromStdString((dir / "nota fiscal.pdf").string()));
            return true;
        });
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, std::vector<fs::path>{dir / "nota fiscal.pdf"});

    bool typed = false;
    const auto listed = withDialog([] { return MainView::chooseWithDialog(nullptr); },
        [&](QFileDialog& dialog) {
            if (!typed)
                EXPECT_EQ(fs::path(dialog.directory().absolutePath().toStdString()), dir.path())
                    << "the last choice's folder";
            return typeWithList(dialog, QString::fromStdString((dir / "nota fiscal.pdf").string()), typed);
        });
    ASSERT_TRUE(listed) << "Return in the completion list chose nothing";
    EXPECT_EQ(*listed, std::vector<fs::path>{dir / "nota fiscal.pdf"});

    typed = false;
    bool inside = false;
    const auto listedFolder = withDialog([] { return MainView::chooseWithDialog(nullptr); },
        [&](QFileDialog& dialog) {
            if (!inside) {
                inside = typeWithList(dialog, QString::fromStdString((dir / "fotos").string()), typed);
                if (inside) {
                    EXPECT_TRUE(dialog.isVisible()) << "Return in the completion list closed the chooser";
                    EXPECT_EQ(fs::path(dialog.directory().absolutePath().toStdString()), dir / "fotos");
                }
                return false;
            }
            dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
            return true;
        });
    ASSERT_TRUE(listedFolder);
    EXPECT_EQ(*listedFolder, std::vector<fs::path>{dir / "fotos"});

    bool entered = false;
    const auto folder = withDialog([] { return MainView::chooseWithDialog(nullptr); },
        [&](QFileDialog& dialog) {
            if (!entered) {
                dialog.setDirectory(QString::fromStdString(dir.path().string()));
                type(dialog, "fotos");  // relative to the folder shown
                entered = true;
                EXPECT_TRUE(dialog.isVisible()) << "Return on a folder closed the chooser";
                EXPECT_EQ(fs::path(dialog.directory().absolutePath().toStdString()), dir / "fotos");
                return false;
            }
            dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
            return true;
        });
    ASSERT_TRUE(folder);
    EXPECT_EQ(*folder, std::vector<fs::path>{dir / "fotos"});
}
