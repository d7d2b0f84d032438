#include "core/quality.h"
#include "core/settings.h"
#include "core/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::error_code error;
        fs::remove(Defaults::file(), error);
    }
};

TEST_F(SettingsTest, FreshInstallDefaults)
{
    SettingsModel model;
    EXPECT_EQ(model.singleKey(), TriggerKey::shift);
    EXPECT_EQ(model.convertKey(), TriggerKey::shift);
    EXPECT_EQ(model.toolsKey(), TriggerKey::command);
    EXPECT_EQ(model.actionsKey(), TriggerKey::control);
    EXPECT_TRUE(model.separateKeys());
    EXPECT_TRUE(model.doneSound());
    EXPECT_TRUE(model.outputBeside());
    EXPECT_TRUE(model.showHUD());
    EXPECT_FALSE(model.revealWhenDone());
    EXPECT_EQ(model.terminalApp(), "Terminal");
    EXPECT_EQ(model.tab(), "geral");
    EXPECT_EQ(model.theme(), AppTheme::macos);
    EXPECT_EQ(model.appearance(), AppAppearance::automatic);
    EXPECT_TRUE(Prefs::cardSound());
    EXPECT_TRUE(Prefs::askQuality());
    EXPECT_FALSE(Prefs::fixedOutputFolder().has_value());
    for (auto group : QualityGroups::all())
        EXPECT_EQ(Quality::saved(group), group == QualityGroup::webp ? QualityLevel::web : QualityLevel::high);
}

TEST_F(SettingsTest, StoredValuesAreExactAndTyped)
{
    Defaults::set("key.convert", "Command");
    Defaults::set("key.actions", "");
    Defaults::set("key.tools", "option");
    Defaults::set("separateKeys", "no");
    Defaults::set("doneSound", false);
    SettingsModel model;
    EXPECT_EQ(model.convertKey(), TriggerKey::shift);
    EXPECT_EQ(model.actionsKey(), TriggerKey::control);
    EXPECT_EQ(model.toolsKey(), TriggerKey::option);
    // A stored string is not a boolean: the switch stays on.
    EXPECT_TRUE(Prefs::separateKeys());
    EXPECT_EQ(Defaults::string("separateKeys"), "no");
    EXPECT_FALSE(Prefs::doneSound());
    EXPECT_FALSE(Defaults::string("doneSound").has_value());

    model.setOutputBeside(false);
    EXPECT_EQ(Defaults::string("outputMode"), "folder");
    model.setSeparateKeys(false);
    EXPECT_EQ(Defaults::boolean("separateKeys"), false);
    model.setActionsKey(TriggerKey::off);
    EXPECT_EQ(Defaults::string("key.actions"), "off");
    model.useFolder("/srv/out");
    EXPECT_EQ(Prefs::fixedOutputFolder(), fs::path("/srv/out"));

    EXPECT_EQ(model.key(WheelMode::tools), TriggerKey::option);
    EXPECT_FALSE(WheelModes::fromRaw("Tools").has_value());
    EXPECT_EQ(TriggerKeys::flag(TriggerKey::command), 0x100000u);
}

TEST_F(SettingsTest, QualityLevelsFollowOverrideThenSavedChoice)
{
    Defaults::set("quality.jpg", "light");
    EXPECT_EQ(Quality::levelFor("jpg"), QualityLevel::light);
    Defaults::set("quality.jpg", "Light");
    EXPECT_EQ(Quality::levelFor("jpg"), QualityLevel::high);
    Defaults::set("quality.ogg", "web");
    Defaults::set("quality.video", "max");
    EXPECT_EQ(Quality::levelFor("opus"), QualityLevel::web);
    EXPECT_EQ(Quality::levelFor("mkv"), QualityLevel::max);
    EXPECT_EQ(Quality::levelFor("JPG"), QualityLevel::high);
    {
        Task::Binder binder(Task::withQuality({}, QualityLevel::light));
        EXPECT_EQ(Quality::levelFor("png"), QualityLevel::high);
        EXPECT_EQ(Quality::levelFor("mp3"), QualityLevel::light);
    }
    EXPECT_EQ(Quality::levelFor("mp3"), QualityLevel::high);

    EXPECT_EQ(QualityGroups::label(QualityGroup::mp3, QualityLevel::web), "Web · 192 kbps");
    EXPECT_EQ(QualityGroups::shortText(QualityGroup::video, QualityLevel::max), "");
    EXPECT_EQ(QualityGroups::shortText(QualityGroup::ogg, QualityLevel::light), "96K");
    EXPECT_EQ(QualityGroups::label(QualityGroup::jpg, QualityLevel::high), "Alta · 90%");
    EXPECT_EQ(QualityGroups::detail(QualityGroup::gif, QualityLevel::web), "12 qps, até 480 px");
    EXPECT_FALSE(QualityGroups::of("video").has_value());
    EXPECT_FALSE(QualityGroups::of("wav").has_value());
    EXPECT_EQ(QualityGroups::of("opus"), QualityGroup::ogg);
}

TEST_F(SettingsTest, HudVisibilityNotifiesOnlyOnRealChange)
{
    SettingsModel model;
    QSignalSpy spy(&Notifications::shared(), &Notifications::hudVisibilityChanged);
    model.setShowHUD(false);
    EXPECT_EQ(Defaults::boolean("hudHidden"), true);
    EXPECT_EQ(spy.count(), 1);
    model.setShowHUD(false);
    EXPECT_EQ(spy.count(), 1);

    // Another component shows the panel again and posts: the model follows without reposting.
    Defaults::set("hudHidden", false);
    Notifications::shared().postHudVisibilityChanged();
    EXPECT_TRUE(model.showHUD());
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(SettingsTest, WritesByAnotherProcessAreSeenAtTheNextRead)
{
    Defaults::set("key.single", "shift");
    EXPECT_EQ(Defaults::string("key.single"), "shift");
    auto file = Defaults::file();
    auto result = TestSupport::runProgram(
        "/bin/sh", {"-c", "printf '{\"key.single\": \"command\", \"separateKeys\": false}' > \"$0\"", file.string()});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(Defaults::string("key.single"), "command");
    EXPECT_FALSE(Prefs::separateKeys());
}

TEST_F(SettingsTest, ThemeComesFromEnvironmentThenStore)
{
    Defaults::set("theme.v2", "stage");
    EXPECT_EQ(Theme::current(), AppTheme::stage);
    setenv("BRIVLON_THEME", "classic", 1);
    EXPECT_EQ(Theme::current(), AppTheme::classic);
    setenv("BRIVLON_THEME", "Classic", 1);
    EXPECT_EQ(Theme::current(), AppTheme::stage);
    unsetenv("BRIVLON_THEME");
    Defaults::set("appearance", "dark");
    EXPECT_EQ(Theme::appearance(), AppAppearance::dark);
}
