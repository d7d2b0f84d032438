#include "core/base/app_paths.h"
#include "core/base/output_paths.h"
#include "core/base/settings.h"
#include "core/base/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

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
    EXPECT_EQ(OutputPaths::destination(source, "jpg"), dir / "Foto 3.jpg");
    EXPECT_EQ(OutputPaths::destination(source, ""), dir / "Foto 2");
    EXPECT_EQ(OutputPaths::destination(dir / "x.tar.gz", "zip"), dir / "x.tar.zip");
    writeFile(dir / "Convertidos para PNG 2", "a file takes the name too");
    EXPECT_EQ(OutputPaths::makeCommonFolder(source, "PNG"), dir / "Convertidos para PNG");
    EXPECT_EQ(OutputPaths::makeCommonFolder(source, "PNG"), dir / "Convertidos para PNG 3");
}

TEST_F(OutputPathsTest, ANameChosenByARunningJobIsTakenUntilItEnds)
{
    fs::path first, second;
    {
        Task::Binder jobA(Task::newJob());
        first = OutputPaths::destination(dir / "a.png", "webp");
        {
            Task::Binder jobB(Task::newJob());
            second = OutputPaths::destination(dir / "a.jpg", "webp");
        }
        EXPECT_EQ(first, dir / "a.webp");
        EXPECT_EQ(second, dir / "a 2.webp");
        // Job B ended without writing: its name is free again, job A's is not.
        Task::Binder jobC(Task::newJob());
        EXPECT_EQ(OutputPaths::destination(dir / "a.jpg", "webp"), dir / "a 2.webp");
    }
    EXPECT_EQ(OutputPaths::destination(dir / "a.png", "webp"), dir / "a.webp");

    // Eight jobs running at once get eight names.
    std::vector<fs::path> names(8);
    std::vector<Task::Context> jobs;
    std::vector<std::jthread> threads;
    for (auto& name : names)
        threads.emplace_back([&, job = jobs.emplace_back(Task::newJob())] {
            Task::Binder binder(job);
            name = OutputPaths::destination(dir / "a.png", "webp");
        });
    threads.clear();
    EXPECT_EQ(std::set<fs::path>(names.begin(), names.end()).size(), 8u);
}

}
