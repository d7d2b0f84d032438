#include "core/base/appearance.h"
#include "core/base/quality.h"
#include "core/base/settings.h"
#include "core/state/settings_model.h"
#include "core/base/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <fstream>

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { fs::remove(Defaults::file()); }
};

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
    EXPECT_EQ(model.key(WheelMode::tools), TriggerKey::option);
    EXPECT_TRUE(Prefs::separateKeys());  // a stored string is no boolean: the switch stays on
    EXPECT_FALSE(Prefs::doneSound());

    model.setActionsKey(TriggerKey::off);
    EXPECT_EQ(Prefs::triggerKey(WheelMode::actions), TriggerKey::off);
    model.useFolder("/srv/out");
    EXPECT_EQ(Prefs::fixedOutputFolder(), fs::path("/srv/out"));
    Defaults::set("outputMode", "Folder");
    EXPECT_FALSE(Prefs::fixedOutputFolder().has_value());
}

TEST_F(SettingsTest, QualityFollowsTheTaskOverrideThenTheSavedChoiceOfTheGroup)
{
    Defaults::set("quality.jpg", "Light");
    Defaults::set("quality.ogg", "web");
    Defaults::set("quality.video", "max");
    const std::pair<const char*, QualityLevel> saved[]
        = {{"jpg", QualityLevel::high}, {"webp", QualityLevel::web}, {"opus", QualityLevel::web},
            {"mkv", QualityLevel::max}, {"JPG", QualityLevel::high}, {"video", QualityLevel::high}};
    for (const auto& [ext, level] : saved)
        EXPECT_EQ(Quality::levelFor(ext), level) << ext;
    Task::Binder binder(Task::withQuality({}, QualityLevel::light));
    EXPECT_EQ(Quality::levelFor("png"), QualityLevel::high);
    EXPECT_EQ(Quality::levelFor("mkv"), QualityLevel::light);
}

TEST_F(SettingsTest, HudVisibilityNotifiesOnlyOnRealChange)
{
    SettingsModel model;
    QSignalSpy spy(&Notifications::shared(), &Notifications::hudVisibilityChanged);
    model.setShowHUD(false);
    model.setShowHUD(false);
    EXPECT_EQ(Defaults::boolean("hudHidden"), true);
    EXPECT_EQ(spy.count(), 1);
    // Another component shows the panel again and posts: the model follows without reposting.
    Defaults::set("hudHidden", false);
    Notifications::shared().postHudVisibilityChanged();
    EXPECT_TRUE(model.showHUD());
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(SettingsTest, WritesFromOutsideAreSeenAtTheNextRead)
{
    Defaults::set("key.single", "shift");
    EXPECT_EQ(Prefs::triggerKey(std::nullopt), TriggerKey::shift);
    const auto file = Defaults::file().string();
    auto result = TestSupport::runProgram("/bin/sh", {"-c", "printf '{\"key.single\": \"command\"}' > \"$0\"", file});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(Prefs::triggerKey(std::nullopt), TriggerKey::command);
    // Rewritten in place with the same size, one right after the other.
    for (const char* key : {"control", "command", "control"}) {
        std::ofstream(file) << "{\"key.single\": \"" << key << "\"}";
        EXPECT_EQ(Defaults::string("key.single"), key);
    }
}
