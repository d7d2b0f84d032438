#include "core/base/app_paths.h"
#include "core/base/appearance.h"
#include "core/base/error_log.h"
#include "core/base/quality.h"
#include "core/base/settings.h"
#include "core/state/settings_model.h"
#include "core/base/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <fstream>
#include <functional>
#include <sys/stat.h>

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { fs::remove(Defaults::file()); }
};

TEST_F(SettingsTest, StoredValuesAreExactAndTyped)
{
    Defaults::set(SettingKey::convertKey, "Command");
    Defaults::set(SettingKey::actionsKey, "");
    Defaults::set(SettingKey::toolsKey, "option");
    Defaults::set(SettingKey::separateKeys, "no");
    Defaults::set(SettingKey::doneSound, false);
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
    Defaults::set(SettingKey::outputMode, "Folder");
    EXPECT_FALSE(Prefs::fixedOutputFolder().has_value());
}

TEST_F(SettingsTest, QualityFollowsTheTaskOverrideThenTheSavedChoiceOfTheGroup)
{
    Defaults::set(SettingKey::quality, "jpg", "Light");
    Defaults::set(SettingKey::quality, "ogg", "web");
    Defaults::set(SettingKey::quality, "video", "max");
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
    EXPECT_EQ(Defaults::boolean(SettingKey::hudHidden), true);
    EXPECT_EQ(spy.count(), 1);
    // Another component shows the panel again and posts: the model follows without reposting.
    Defaults::set(SettingKey::hudHidden, false);
    Notifications::shared().postHudVisibilityChanged();
    EXPECT_TRUE(model.showHUD());
    EXPECT_EQ(spy.count(), 2);
}

TEST_F(SettingsTest, WritesFromOutsideAreSeenAtTheNextRead)
{
    Defaults::set(SettingKey::singleKey, "shift");
    EXPECT_EQ(Prefs::triggerKey(std::nullopt), TriggerKey::shift);
    const auto file = Defaults::file().string();
    auto result = TestSupport::runProgram("/bin/sh", {"-c", "printf '{\"key.single\": \"command\"}' > \"$0\"", file});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(Prefs::triggerKey(std::nullopt), TriggerKey::command);
    // Rewritten in place with the same size, one right after the other.
    for (const char* key : {"control", "command", "control"}) {
        std::ofstream(file) << "{\"key.single\": \"" << key << "\"}";
        EXPECT_EQ(Defaults::string(SettingKey::singleKey), key);
    }
}

TEST_F(SettingsTest, AnOpenModelFollowsWritesFromHereAndFromOtherProcesses)
{
    SettingsModel model;  // before the store's file exists
    std::vector<bool> soundAtSignal;  // what a view bound to the model reads when told
    QObject::connect(&model, &SettingsModel::changed, [&] {
        soundAtSignal.push_back(model.doneSound());
    });
    // Another part of the program, twice: each write replaces the file.
    Defaults::set(SettingKey::doneSound, false);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !model.doneSound();
        },
        5000));
    Defaults::set(SettingKey::doneSound, true);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return model.doneSound();
        },
        5000));

    // Another process, writing in place.
    auto write = [&](const std::string& json) {
        const auto result = TestSupport::runProgram("/usr/bin/python3",
            {"-c", "import sys; open(sys.argv[1], 'w').write(sys.argv[2])", Defaults::file().string(), json});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    };
    write(R"({"doneSound": false, "key.tools": "option", "outputMode": "folder"})");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return model.toolsKey() == TriggerKey::option;
        },
        5000));
    EXPECT_FALSE(model.doneSound());
    EXPECT_FALSE(model.outputBeside());

    // A key the model does not hold still tells the views, which show it too.
    const auto told = soundAtSignal.size();
    write(R"({"doneSound": false, "key.tools": "option", "outputMode": "folder", "quality.jpg": "web"})");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return soundAtSignal.size() > told;
        },
        5000));
    EXPECT_EQ(Quality::saved(QualityGroup::jpg), QualityLevel::web);

    // Told after each change, never before it; and a write of the same value tells nothing.
    ASSERT_GE(soundAtSignal.size(), 3u);
    EXPECT_EQ(std::vector<bool>(soundAtSignal.begin(), soundAtSignal.begin() + 2), (std::vector<bool>{false, true}));
    // The watch's own news of that write comes before the next one's: the same value written
    // here and a key the model does not hold are told once, and the sound turned on after that
    // once more, with nothing between.
    const auto settled = soundAtSignal.size();
    model.setDoneSound(false);
    Defaults::set(SettingKey::cardSound, false);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return soundAtSignal.size() > settled;
        },
        5000));
    Defaults::set(SettingKey::doneSound, true);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return soundAtSignal.back();
        },
        5000));
    EXPECT_EQ(std::vector<bool>(soundAtSignal.begin() + long(settled), soundAtSignal.end()),
        (std::vector<bool>{false, true}));
}

// A link to an endless device, a pipe nobody writes to, a file far past any settings: each reads
// as the defaults at once, is named once in the error log, and is never written over.
TEST_F(SettingsTest, OddSettingsFilesGiveTheDefaultsAndAreLeftAsTheyAre)
{
    const auto file = Defaults::file();
    const auto logged = [] {
        return ErrorLog::recent(500).find("Ajustes: ") != std::string::npos;
    };
    const std::string big = "{\"key.single\": \"command\", \"x\": \"" + std::string(2 << 20, 'x') + "\"}";
    const std::vector<std::pair<std::string, std::function<void()>>> odd = {
        {"link to /dev/zero", [&] { fs::create_symlink("/dev/zero", file); }},
        {"pipe", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"2 MiB of JSON", [&] { TestSupport::writeFile(file, big); }},
    };
    for (const auto& [what, make] : odd) {
        SCOPED_TRACE(what);
        fs::remove_all(AppPaths::stateDir());
        fs::remove(file);
        fs::create_directories(file.parent_path());
        make();
        const auto before = fs::symlink_status(file).type();
        EXPECT_EQ(Prefs::triggerKey(std::nullopt), TriggerKey::shift);
        EXPECT_TRUE(Prefs::doneSound());
        Defaults::set(SettingKey::singleKey, "option");
        Defaults::remove(SettingKey::doneSound);
        EXPECT_EQ(Prefs::triggerKey(std::nullopt), TriggerKey::shift);
        EXPECT_EQ(fs::symlink_status(file).type(), before);
        if (fs::is_regular_file(fs::symlink_status(file)))
            EXPECT_EQ(fs::file_size(file), big.size());
        EXPECT_TRUE(logged());
    }
    // A sane file is read and written again as before.
    fs::remove(file);
    Defaults::set(SettingKey::singleKey, "option");
    EXPECT_EQ(Prefs::triggerKey(std::nullopt), TriggerKey::option);
}
