#include "core/base/app_paths.h"
#include "core/base/settings.h"
#include "core/state/settings_model.h"
#include "menus/desktop_theme.h"
#include "menus/haptics.h"
#include "menus/palette.h"
#include "platform/desktop_apps.h"
#include "settings/appearance_page.h"
#include "settings/controls.h"
#include "settings/files_page.h"
#include "settings/general_page.h"
#include "settings/keys_page.h"
#include "support/loopback_server.h"
#include "settings/quality_page.h"
#include "settings/settings_window.h"
#include "settings/updates.h"
#include "support/contrast.h"
#include "support/fakes.h"
#include "support/test_support.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QWheelEvent>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const bool widgets = TestSupport::wantWidgets();

struct HapticSpy final : Haptics::Performer {
    int performed = 0;
    void perform(Haptics::Pattern) override { ++performed; }
};

struct FakeOffice final : OfficeComponent {
    State state;
    int installs = 0;
    State office() const override { return state; }
    void install() override { ++installs; }
    void set(State value)
    {
        state = std::move(value);
        Q_EMIT changed();
    }
};

// Picks a row the way a user does: the combo box says it was activated.
void choose(QComboBox* box, int index)
{
    box->setCurrentIndex(index);
    Q_EMIT box->activated(index);
}

// Every test starts from an empty store and a model of its own.
class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() { std::filesystem::remove(Defaults::file()); }
    std::shared_ptr<Fakes::Sounds> sounds = std::make_shared<Fakes::Sounds>();
    std::shared_ptr<HapticSpy> haptics = std::make_shared<HapticSpy>();
    TestSupport::Installed<Chime::Output> soundOutput{sounds};
    TestSupport::Installed<Haptics::Performer> hapticOutput{haptics};
};

std::vector<Chime::Kind> kinds(const Fakes::Sounds& sounds)
{
    std::vector<Chime::Kind> result;
    for (const auto& played : sounds.played)
        result.push_back(played.kind);
    return result;
}

}

TEST_F(SettingsWindowTest, AppearanceControlsWriteTheirKeysAndPlayTheirSamples)
{
    SettingsModel model;
    AppearancePage page(model);
    page.themePicker()->segment(2)->click();
    EXPECT_EQ(Defaults::string(SettingKey::theme), "stage");
    page.appearancePicker()->segment(2)->click();
    EXPECT_EQ(Defaults::string(SettingKey::appearance), "dark");
    page.placementPicker()->segment(1)->click();
    EXPECT_EQ(Defaults::string(SettingKey::fanPlacement), "center");
    EXPECT_EQ(page.placementPicker()->current(), 1);
    EXPECT_TRUE(sounds->played.empty());

    page.hapticsPicker()->segment(0)->click();
    EXPECT_EQ(Defaults::string(SettingKey::haptics), "off");
    EXPECT_EQ(haptics->performed, 0);
    page.hapticsPicker()->segment(2)->click();
    EXPECT_EQ(Defaults::string(SettingKey::haptics), "strong");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return haptics->performed == 2;
        },
        2000));

    // The finale plays even with the done sounds off; the sample is the finale just stored.
    page.doneSoundSwitch()->click();
    EXPECT_EQ(Defaults::boolean(SettingKey::doneSound), false);
    page.finalePicker()->segment(1)->click();
    EXPECT_EQ(Defaults::string(SettingKey::finale), "harp");
    EXPECT_EQ(kinds(*sounds), std::vector{Chime::Kind::harp});
    page.failureButton()->click();
    page.successButton()->click();
    EXPECT_EQ(kinds(*sounds), (std::vector{Chime::Kind::harp, Chime::Kind::failure, Chime::Kind::harp}));

    sounds->played.clear();
    page.cardSoundSwitch()->click();
    EXPECT_EQ(Defaults::boolean(SettingKey::cardSound), false);
    EXPECT_TRUE(sounds->played.empty());
    page.cardSoundSwitch()->click();
    EXPECT_EQ(Defaults::boolean(SettingKey::cardSound), true);
    EXPECT_EQ(kinds(*sounds), std::vector{Chime::Kind::flip});
}

TEST_F(SettingsWindowTest, AFreshStore)
{
    {
        SettingsModel model;
        SettingsWindow window(model, Updates::shared());
        EXPECT_EQ(window.tabWidget()->currentIndex(), 0);
        EXPECT_EQ(window.appearance()->themePicker()->current(), 0);
        EXPECT_EQ(window.appearance()->hapticsPicker()->current(), 2);
        EXPECT_TRUE(window.appearance()->doneSoundSwitch()->isChecked());
        EXPECT_TRUE(window.appearance()->cardSoundSwitch()->isChecked());
        EXPECT_EQ(window.keys()->modePicker()->currentIndex(), 0);
        EXPECT_EQ(window.files()->savePicker()->currentIndex(), 0);
        EXPECT_TRUE(window.quality()->askSwitch()->isChecked());
        EXPECT_EQ(window.quality()->picker(QualityGroup::jpg)->currentData().toInt(), int(QualityLevel::high));
        EXPECT_EQ(window.quality()->picker(QualityGroup::webp)->currentData().toInt(), int(QualityLevel::web));
        EXPECT_TRUE(Defaults::all().isEmpty());
    }
}

// The environment is read once per process, so the look it names is tried in a child run of
// this same test.
TEST_F(SettingsWindowTest, ThemeFromTheEnvironment)
{
    if (qEnvironmentVariable("BRIVLON_THEME") == "stage") {
        SettingsModel model;
        AppearancePage page(model);
        EXPECT_EQ(page.themePicker()->segment(page.themePicker()->current())->text(), "Palco");
        return;
    }
    const auto child = TestSupport::runProgram(fs::read_symlink("/proc/self/exe"),
        {"--gtest_filter=SettingsWindowTest.ThemeFromTheEnvironment"}, 60, {{"BRIVLON_THEME", "stage"}});
    EXPECT_EQ(child.exitCode, 0) << child.out;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
}

TEST_F(SettingsWindowTest, KeysPageSwapsWithTheModeAndKeepsBothSets)
{
    SettingsModel model;
    KeysPage page(model);
    choose(page.keyPicker(WheelMode::tools), page.keyPicker(WheelMode::tools)->findData(int(TriggerKey::shift)));
    choose(page.keyPicker(WheelMode::actions), page.keyPicker(WheelMode::actions)->findData(int(TriggerKey::off)));
    EXPECT_EQ(Defaults::string(SettingKey::toolsKey), "shift");
    EXPECT_EQ(Defaults::string(SettingKey::actionsKey), "off");

    choose(page.modePicker(), 1);
    EXPECT_EQ(Defaults::boolean(SettingKey::separateKeys), false);
    EXPECT_EQ(page.box()->title(), "Teclas (toque durante o arraste)");
    EXPECT_TRUE(page.footerLabel()->text().startsWith("Toque uma vez"));
    EXPECT_TRUE(page.keyPicker(std::nullopt)->isVisibleTo(&page));
    EXPECT_FALSE(page.keyPicker(WheelMode::convert)->isVisibleTo(&page));
    choose(page.keyPicker(std::nullopt), page.keyPicker(std::nullopt)->findData(int(TriggerKey::option)));
    EXPECT_EQ(Defaults::string(SettingKey::singleKey), "option");

    choose(page.modePicker(), 0);
    EXPECT_EQ(page.box()->title(), "Teclas (segure durante o arraste)");
    EXPECT_FALSE(page.keyPicker(std::nullopt)->isVisibleTo(&page));
    EXPECT_EQ(page.keyPicker(WheelMode::tools)->currentData().toInt(), int(TriggerKey::shift));
    EXPECT_EQ(page.keyPicker(WheelMode::actions)->currentData().toInt(), int(TriggerKey::off));
    EXPECT_EQ(Defaults::string(SettingKey::singleKey), "option");
}

TEST_F(SettingsWindowTest, FilesPageOutputMode)
{
    for (const auto& [stored, beside] :
        std::vector<std::pair<std::optional<QString>, bool>>{{std::nullopt, true}, {"xyz", true}, {"folder", false}}) {
        if (stored)
            Defaults::set(SettingKey::outputMode, *stored);
        SettingsModel model;
        FilesPage page(model);
        EXPECT_EQ(page.savePicker()->currentIndex(), beside ? 0 : 1);
        EXPECT_EQ(page.folderRow()->isVisibleTo(&page), !beside);
    }
    // Nothing stored: "Pasta fixa" shows the Downloads folder; a long path keeps its end.
    std::filesystem::remove(Defaults::file());
    SettingsModel model;
    FilesPage page(model);
    choose(page.savePicker(), 1);
    EXPECT_EQ(Defaults::string(SettingKey::outputMode), "folder");
    EXPECT_TRUE(page.folderRow()->isVisibleTo(&page));
    EXPECT_EQ(page.folderPath()->path().toStdString(), AppPaths::downloads().string());
    const QString deep = "/home/alguem/um/caminho/muito/longo/que/nao/cabe/inteiro/na/linha/Convertidos";
    model.setOutputFolder(deep);
    page.folderPath()->resize(160, 20);
    const auto shown = page.folderPath()->shownText();
    EXPECT_TRUE(shown.startsWith("…"));
    EXPECT_TRUE(shown.endsWith("linha/Convertidos"));
}

TEST_F(SettingsWindowTest, ChoosingAFolderWritesTheFolderThenTheMode)
{
    SettingsModel model;
    std::optional<QString> answer;
    QString start;
    FilesPage page(model, [&](const QString& shown) {
        start = shown;
        return answer;
    });
    const auto downloads = QString::fromStdString(AppPaths::downloads().string());
    const bool hadDownloads = QFileInfo(downloads).isDir();
    QDir().mkpath(downloads);
    page.chooseButton()->click();
    EXPECT_TRUE(Defaults::all().isEmpty());
    EXPECT_EQ(start, downloads);

    answer = "/tmp/saida";
    std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> seen;
    QObject::connect(&model, &SettingsModel::changed, [&] {
        seen.emplace_back(Defaults::string(SettingKey::outputFolder), Defaults::string(SettingKey::outputMode));
    });
    page.chooseButton()->click();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), std::make_pair(std::optional<std::string>("/tmp/saida"), std::optional<std::string>()));
    EXPECT_EQ(seen.back().second, "folder");

    // The next question starts in the folder chosen; one that has gone since, in the download
    // folder, and without that, in the home folder.
    TestSupport::TempDir chosen;
    model.useFolder(QString::fromStdString(chosen.path().string()));
    answer.reset();
    page.chooseButton()->click();
    EXPECT_EQ(start, QString::fromStdString(chosen.path().string()));
    model.useFolder("/nenhuma/pasta");
    page.chooseButton()->click();
    EXPECT_EQ(start, downloads);
    QDir(downloads).removeRecursively();
    page.chooseButton()->click();
    EXPECT_EQ(start, QDir::homePath());
    if (hadDownloads)
        QDir().mkpath(downloads);
}

TEST_F(SettingsWindowTest, ComponentLineForEveryState)
{
    auto office = std::make_shared<FakeOffice>();
    TestSupport::Installed<OfficeComponent> installed(office);
    SettingsModel model;
    FilesPage page(model);
    using Phase = OfficeComponent::State::Phase;
    struct Case {
        OfficeComponent::State state;
        QString line;
        QWidget* trailing;
    };
    const std::vector<Case> cases{
        {{Phase::downloading, 0, {}}, "Baixando… 0%", page.downloadBar()},
        {{Phase::downloading, 0.999, {}}, "Baixando… 99%", page.downloadBar()},
        {{Phase::downloading, 1, {}}, "Baixando… 100%", page.downloadBar()},
        {{Phase::failed, 0, {}}, "Não instalado: ", page.installButton()},
        {{Phase::failed, 0, "disco cheio"}, "Não instalado: disco cheio", page.installButton()},
        {{Phase::notInstalled, 0, {}}, "Ainda não instalado", page.installButton()},
        // The wait installs by itself; a button could only fail or wait too.
        {{Phase::waitingNetwork, 0, {}},
            "Aguardando internet: instala sozinho quando conectar (até lá, Word → PDF usa o modo simples)", nullptr},
        {{Phase::notInstalled, 0, {}, {}, false}, "Ainda não instalado", nullptr},
        // The distribution's suite converts: named, and nothing to install.
        {{Phase::notInstalled, 0, {}, "LibreOffice 7.4"},
            "Pronto · Word, ODT e RTF → PDF pelo LibreOffice 7.4 do sistema", page.readyMark()},
        {{Phase::waitingNetwork, 0, {}, "LibreOffice 7.4", false},
            "Pronto · Word, ODT e RTF → PDF pelo LibreOffice 7.4 do sistema", page.readyMark()},
        {{Phase::ready, 0, {}, "LibreOffice 7.4"}, "Pronto · Word, ODT e RTF → PDF", page.readyMark()},
        {{Phase::installing, 0, {}}, "Instalando…", page.busyBar()},
        {{Phase::ready, 0, {}}, "Pronto · Word, ODT e RTF → PDF", page.readyMark()},
    };
    for (const auto& item : cases) {
        office->set(item.state);
        EXPECT_EQ(page.officeLabel()->text(), item.line);
        for (QWidget* trailing : {(QWidget*)page.downloadBar(), (QWidget*)page.installButton(),
                 (QWidget*)page.busyBar(), (QWidget*)page.readyMark()})
            EXPECT_EQ(trailing->isVisibleTo(&page), trailing == item.trailing) << item.line.toStdString();
        // The footer tells of the suite that converts: never of an installation that does not run.
        const QString about = page.aboutLabel()->text();
        const bool system = item.line.endsWith("do sistema");
        EXPECT_EQ(about.contains("Instalado uma única vez"), !system) << about.toStdString();
        EXPECT_EQ(about.contains("Usa o LibreOffice 7.4 do sistema"), system) << about.toStdString();
    }
    office->set({Phase::notInstalled, 0, {}});
    page.installButton()->click();
    EXPECT_EQ(office->installs, 1);
}

TEST_F(SettingsWindowTest, ProgressPanelSwitchPostsOncePerChange)
{
    SettingsModel model;
    FilesPage page(model);
    QSignalSpy posts(&Notifications::shared(), &Notifications::hudVisibilityChanged);
    page.panelSwitch()->click();
    EXPECT_EQ(Defaults::boolean(SettingKey::hudHidden), true);
    EXPECT_EQ(posts.count(), 1);
    page.panelSwitch()->click();
    EXPECT_EQ(Defaults::boolean(SettingKey::hudHidden), false);
    EXPECT_EQ(posts.count(), 2);

    // The panel hidden from elsewhere: the switch follows and nothing is posted again.
    Defaults::set(SettingKey::hudHidden, true);
    Notifications::shared().postHudVisibilityChanged();
    EXPECT_EQ(posts.count(), 3);
    EXPECT_FALSE(page.panelSwitch()->isChecked());
    QCoreApplication::processEvents();
    EXPECT_EQ(posts.count(), 3);
}

TEST_F(SettingsWindowTest, QualityPage)
{
    Defaults::set(SettingKey::quality, "jpg", QString("medium"));
    SettingsModel model;
    QualityPage page(model);
    EXPECT_EQ(page.picker(QualityGroup::jpg)->currentData().toInt(), int(QualityLevel::high));
    EXPECT_EQ(Defaults::string(SettingKey::quality, "jpg"), "medium");

    const auto before = Defaults::all();
    auto* webm = page.picker(QualityGroup::webm);
    choose(webm, webm->findData(int(QualityLevel::light)));
    auto after = Defaults::all();
    EXPECT_EQ(after.take(SettingKeys::name(SettingKey::quality, "webm")), "light");
    EXPECT_EQ(after, before);

    page.askSwitch()->click();
    EXPECT_EQ(Defaults::boolean(SettingKey::askQuality), false);
    EXPECT_FALSE(Prefs::askQuality());
}

// A notch of the wheel over a picker changes nothing, also while the picker has the focus, and is
// left to the page under it, which scrolls; the keys still choose.
TEST_F(SettingsWindowTest, TheWheelChangesNoPickerAndTheKeysStillChoose)
{
    SettingsModel model;
    SettingsWindow window(model, Updates::shared());
    window.show();
    // Qt hands a wheel event on to the parents only when it comes from the window system, so the
    // test asks whether the picker left it to them.
    const auto wheel = [](QWidget* target, int notches) {
        const QPointF at = QPointF(target->rect().center());
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
        return event.isAccepted();
    };
    const auto before = Defaults::all();
    std::vector<QComboBox*> pickers{window.keys()->keyPicker(std::nullopt), window.keys()->keyPicker(WheelMode::convert),
        window.keys()->modePicker()};
    for (auto group : {QualityGroup::jpg, QualityGroup::video})
        pickers.push_back(window.quality()->picker(group));
    for (auto* picker : pickers) {
        const int shown = picker->currentIndex();
        EXPECT_FALSE(wheel(picker, -1));
        picker->setFocus();
        EXPECT_FALSE(wheel(picker, 1));
        EXPECT_FALSE(wheel(picker, -1));
        EXPECT_EQ(picker->currentIndex(), shown);
    }
    EXPECT_EQ(Defaults::all(), before);

    auto* jpg = window.quality()->picker(QualityGroup::jpg);
    QTest::keyClick(jpg, Qt::Key_Down);
    EXPECT_NE(Defaults::all(), before);
}

TEST_F(SettingsWindowTest, GeneralPageFollowsTheUpdateChecker)
{
    SettingsModel model;
    auto& updates = Updates::shared();
    GeneralPage page(model, updates);
    if (!updates.lastCheck()) {
        EXPECT_EQ(page.statusLabel()->text(), "Procura sozinho uma vez por dia");
        EXPECT_FALSE(page.downloadButton()->isVisibleTo(&page));
    }
    auto server = std::make_unique<LoopbackServer>("");
    qputenv("BRIVLON_UPDATES_URL", QByteArray::fromStdString(server->url()));
    page.checkButton()->click();
    EXPECT_EQ(page.checkButton()->text(), "Procurando…");
    EXPECT_FALSE(page.checkButton()->isEnabled());
    server.reset();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !updates.checking();
        },
        5000));
    EXPECT_EQ(page.checkButton()->text(), "Procurar agora");
    EXPECT_TRUE(page.checkButton()->isEnabled());
    EXPECT_EQ(page.statusLabel()->text(), "Você está na versão mais recente");

    TestSupport::TempDir dir;
    TestSupport::writeFile(dir / "m.json", R"({"versoes": [{"versao": "7.2", "download": "https://a.example"}]})");
    qputenv("BRIVLON_UPDATES_URL", QByteArray::fromStdString("file://" + (dir / "m.json").string()));
    updates.check(false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !updates.checking();
        },
        5000));
    EXPECT_TRUE(page.statusLabel()->text().startsWith("Nova versão 7.2 disponível em "));
    EXPECT_TRUE(page.downloadButton()->isVisibleTo(&page));
}

// "Abrir pastas no" names the terminals installed, the desktop's default first, and is there only
// when there is a choice; another system's stored name is still read, and kept, as the default.
TEST_F(SettingsWindowTest, TheTerminalChoiceListsTheInstalledTerminals)
{
    const fs::path home = std::getenv("HOME");
    Defaults::set(SettingKey::terminalApp, QString("iTerm"));
    auto install = [&](const std::string& id, const std::string& name) {
        TestSupport::writeFile(home / ".local/share/applications" / id,
            "[Desktop Entry]\nType=Application\nName=" + name
                + "\nCategories=System;TerminalEmulator;\nExec=/bin/true\n");
    };
    auto listed = [](size_t count) {
        // GIO hears of new entries from its monitor.
        return QTest::qWaitFor(
            [count] {
                return DesktopApps::terminals().size() == count;
            },
            5000);
    };
    const size_t before = DesktopApps::terminals().size();
    TestSupport::writeFile(home / ".config/xdg-terminals.list", "brivlon-zz.desktop\n");
    install("brivlon-zz.desktop", "Zz Terminal");
    ASSERT_TRUE(listed(before + 1));
    SettingsModel model;
    GeneralPage page(model, Updates::shared());
    page.show();
    auto* picker = page.terminalPicker();
    EXPECT_EQ(picker->isVisibleTo(&page), before + 1 > 1) << "a choice of one is no choice";

    install("brivlon-aa.desktop", "Aa Terminal");
    ASSERT_TRUE(listed(before + 2));
    page.hide();
    page.show();
    EXPECT_TRUE(picker->isVisibleTo(&page));
    ASSERT_EQ(picker->count(), int(before + 2));
    EXPECT_EQ(picker->itemText(0), "Zz Terminal") << "the desktop's default leads";
    EXPECT_EQ(picker->currentIndex(), 0);
    EXPECT_EQ(Defaults::string(SettingKey::terminalApp), "iTerm") << "showing it writes nothing";
    const int other = picker->findText("Aa Terminal");
    choose(picker, other);
    EXPECT_EQ(Defaults::string(SettingKey::terminalApp), "brivlon-aa.desktop");
    EXPECT_EQ(picker->currentIndex(), other);
    for (const char* id : {"brivlon-zz.desktop", "brivlon-aa.desktop"})
        fs::remove(home / ".local/share/applications" / id);
    fs::remove(home / ".config/xdg-terminals.list");
    ASSERT_TRUE(listed(before));
}

// There is no haptic device on Linux desktops: no control for one, and the stored level stays.
TEST(SettingsWithoutHaptics, TheTrackpadRowIsNotShownAndTheStoredLevelIsStillRead)
{
    ASSERT_FALSE(Haptics::Performer::shared());
    Defaults::set(SettingKey::haptics, QString("soft"));
    SettingsModel model;
    AppearancePage page(model);
    page.show();
    EXPECT_FALSE(page.hapticsPicker()->isVisibleTo(&page));
    for (auto* label : page.findChildren<QLabel*>())
        EXPECT_FALSE(label->text() == "Vibração do trackpad" && label->isVisibleTo(&page));
    page.placementPicker()->segment(1)->click();
    EXPECT_EQ(Defaults::string(SettingKey::haptics), "soft");
    EXPECT_EQ(Haptics::level(), Haptics::Level::soft);
    Defaults::remove(SettingKey::haptics);
    Defaults::remove(SettingKey::fanPlacement);
}

TEST_F(SettingsWindowTest, SizeLimitsTabsAndTint)
{
    SettingsModel model;
    SettingsWindow window(model, Updates::shared());
    window.show();
    window.resize(2000, 100);
    EXPECT_EQ(window.width(), SettingsWindow::maximumWidth);
    EXPECT_EQ(window.height(), SettingsWindow::minimumHeight);
    window.resize(100, 900);
    EXPECT_EQ(window.width(), SettingsWindow::minimumWidth);

    // The tab is the model's, so it survives a close within the run.
    window.tabWidget()->setCurrentIndex(1);
    EXPECT_EQ(model.tab(), "aparencia");
    window.close();
    window.show();
    EXPECT_EQ(window.tabWidget()->currentIndex(), 1);

    const auto before = window.palette().color(QPalette::Highlight);
    window.appearance()->themePicker()->segment(2)->click();
    const auto after = window.palette().color(QPalette::Highlight);
    EXPECT_NE(after, before);
    EXPECT_EQ(after, Theme::palette(Theme::isDark(), AppTheme::stage).metal(WheelMode::convert));
}

// A switch that has the keyboard shows it: a ring round its track, apart from it and as plain
// against the window as text is, on and off, light and dark; the General tab's login switch, come
// to by Tab, draws it.
TEST(SettingsControls, AFocusedSwitchShowsItsRing)
{
    for (bool dark : {false, true}) {
        QPalette palette;
        palette.setColor(QPalette::Window, dark ? QColor(40, 40, 40) : QColor(236, 236, 236));
        palette.setColor(QPalette::WindowText, dark ? Qt::white : Qt::black);
        palette.setColor(QPalette::Highlight, dark ? QColor(10, 132, 255) : QColor(0, 100, 220));
        for (bool on : {false, true}) {
            const auto draw = [&](bool focused) {
                QImage image(320, 28, QImage::Format_ARGB32_Premultiplied);
                image.fill(palette.color(QPalette::Window));
                QPainter painter(&image);
                Switch::paint(painter, image.rect(), "Abrir ao iniciar o computador", on, palette, focused);
                return image;
            };
            EXPECT_GE(TestSupport::addedContrast(draw(true), draw(false), QRect(0, 0, 320, 28)), 3)
                << (dark ? "dark, " : "light, ") << (on ? "on" : "off");
        }
    }

    SettingsModel model;
    GeneralPage page(model, Updates::shared());
    page.resize(540, 400);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    Switch* login = nullptr;
    for (auto* candidate : page.findChildren<Switch*>())
        if (candidate->text() == "Abrir ao iniciar o computador")
            login = candidate;
    ASSERT_NE(login, nullptr);
    const QImage unfocused = login->grab().toImage();
    login->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return login->hasFocus();
    }));
    EXPECT_NE(login->grab().toImage(), unfocused);
}
