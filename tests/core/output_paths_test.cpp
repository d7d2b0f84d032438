#include "core/base/app_paths.h"
#include "core/base/output_paths.h"
#include "core/base/settings.h"
#include "core/base/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <thread>

using TestSupport::readFile;
using TestSupport::TempDir;
using TestSupport::writeFile;

namespace {

// Root may write everywhere, so tests decide which folders count as read-only.
struct ReadOnlyFolders final : OutputPaths::WritableCheck {
    std::set<fs::path> readOnly;
    bool isWritable(const fs::path& folder) override { return !readOnly.count(folder); }
};

class OutputPathsTest : public ::testing::Test {
protected:
    void TearDown() override { Defaults::remove(SettingKey::outputMode); }
    TempDir dir;
    std::shared_ptr<ReadOnlyFolders> folders = std::make_shared<ReadOnlyFolders>();
    TestSupport::Installed<OutputPaths::WritableCheck> installed{folders};
};

TEST_F(OutputPathsTest, FixedFolderThenSourceFolderThenDownloadsAndTheOverrideAboveAll)
{
    const auto source = dir / "src/a.png";
    writeFile(source, "x");
    fs::create_directories(dir / "fixed");
    Defaults::set(SettingKey::outputMode, "folder");
    Defaults::set(SettingKey::outputFolder, QString::fromStdString((dir / "fixed").string()));
    EXPECT_EQ(OutputPaths::directory(source), dir / "fixed");
    folders->readOnly.insert(dir / "fixed");
    EXPECT_EQ(OutputPaths::directory(source), dir / "src");
    folders->readOnly = {dir / "src"};
    fs::remove(dir / "fixed");
    fs::remove_all(AppPaths::downloads());  // made when missing
    EXPECT_EQ(OutputPaths::directory(source), AppPaths::downloads());
    EXPECT_TRUE(fs::is_directory(AppPaths::downloads()));

    folders->readOnly.insert(dir / "over");
    Task::Binder binder(Task::with({}, dir / "over"));
    EXPECT_EQ(OutputPaths::directory(source), dir / "over");
}

TEST_F(OutputPathsTest, FreeNamesSkipFilesAndFolders)
{
    const auto source = dir / "Foto.heic";
    writeFile(dir / "Foto.jpg", "1");
    fs::create_directories(dir / "Foto 2.jpg");
    fs::create_directories(dir / "Foto");
    EXPECT_EQ(FileSafety::writeNew(OutputPaths::names(source, "jpg"), "x"), dir / "Foto 3.jpg");
    EXPECT_EQ(FileSafety::writeNew(OutputPaths::names(source, ""), "x"), dir / "Foto 2");
    EXPECT_EQ(OutputPaths::names(dir / "x.tar.gz", "zip")(2), dir / "x.tar 2.zip");
    writeFile(dir / "Convertidos para PNG 2", "a file takes the name too");
    EXPECT_EQ(OutputPaths::makeCommonFolder(source, "PNG"), dir / "Convertidos para PNG");
    EXPECT_EQ(OutputPaths::makeCommonFolder(source, "PNG"), dir / "Convertidos para PNG 3");
}

// Nothing reserves a name ahead: outputs finished at the same moment by jobs running at once still
// take the rule's names in turn ("a 2", "a 3", …), never a number added to a number.
TEST_F(OutputPathsTest, OutputsPublishedAtOnceTakeTheNamesOfTheRuleInTurn)
{
    writeFile(dir / "a.webp", "someone else's");
    constexpr int count = 8;
    std::vector<fs::path> placed(count);
    std::latch written(count);
    std::vector<std::jthread> jobs;
    for (auto& name : placed)
        jobs.emplace_back([&] {
            Task::Binder job(Task::newJob());
            const auto names = OutputPaths::names(dir / "a.png", "webp");
            FileSafety::NewFile file(names.folder());
            file.write("mine");
            written.arrive_and_wait();
            name = file.publish(names);
        });
    jobs.clear();
    std::set<fs::path> expected;
    for (int n = 2; n <= count + 1; ++n)
        expected.insert(dir / ("a " + std::to_string(n) + ".webp"));
    EXPECT_EQ(std::set<fs::path>(placed.begin(), placed.end()), expected);
    EXPECT_EQ(readFile(dir / "a.webp"), "someone else's");
}

}
