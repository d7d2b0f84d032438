#include "core/app_paths.h"
#include "core/output_paths.h"
#include "core/settings.h"
#include "core/task.h"
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

}

class OutputPathsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        Defaults::remove("outputMode");
        Defaults::remove("outputFolder");
    }
    TempDir dir;
    std::shared_ptr<ReadOnlyFolders> check = std::make_shared<ReadOnlyFolders>();
    TestSupport::Installed<OutputPaths::WritableCheck> installed{check};
    ReadOnlyFolders& folders = *check;
};

TEST_F(OutputPathsTest, FolderOrder)
{
    const auto source = dir / "src/a.png";
    writeFile(source, "x");
    fs::create_directories(dir / "fixed");

    EXPECT_EQ(OutputPaths::directory(source), dir / "src");

    Defaults::set("outputMode", "folder");
    Defaults::set("outputFolder", QString::fromStdString((dir / "fixed").string()));
    EXPECT_EQ(OutputPaths::directory(source), dir / "fixed");

    // A read-only or deleted fixed folder is skipped silently.
    folders.readOnly.insert(dir / "fixed");
    EXPECT_EQ(OutputPaths::directory(source), dir / "src");
    folders.readOnly.clear();
    fs::remove(dir / "fixed");
    EXPECT_EQ(OutputPaths::directory(source), dir / "src");

    // A read-only source folder without a fixed folder: Downloads.
    folders.readOnly.insert(dir / "src");
    EXPECT_EQ(OutputPaths::directory(source), AppPaths::downloads());

    // An override wins without any check, read-only or not, fixed folder or not.
    fs::create_directories(dir / "fixed");
    folders.readOnly.insert(dir / "over");
    {
        Task::Binder binder(Task::with({}, dir / "over"));
        EXPECT_EQ(OutputPaths::directory(source), dir / "over");
    }
    // Case matters for the mode.
    Defaults::set("outputMode", "Folder");
    EXPECT_FALSE(Prefs::fixedOutputFolder().has_value());
    Defaults::set("outputMode", "folder");
    Defaults::set("outputFolder", "");
    EXPECT_FALSE(Prefs::fixedOutputFolder().has_value());
}

TEST_F(OutputPathsTest, FreeNamesSkipFilesAndFolders)
{
    const auto source = dir / "Foto.heic";
    writeFile(source, "x");
    EXPECT_EQ(OutputPaths::destination(source, "jpg"), dir / "Foto.jpg");
    writeFile(dir / "Foto.jpg", "1");
    fs::create_directories(dir / "Foto 2.jpg");
    EXPECT_EQ(OutputPaths::destination(source, "jpg"), dir / "Foto 3.jpg");

    // An empty extension names a folder or a bare file.
    EXPECT_EQ(OutputPaths::destination(source, ""), dir / "Foto");
    fs::create_directories(dir / "Foto");
    EXPECT_EQ(OutputPaths::destination(source, ""), dir / "Foto 2");

    // Only the last extension is dropped.
    EXPECT_EQ(OutputPaths::destination(dir / "x.tar.gz", "zip"), dir / "x.tar.zip");
}

TEST_F(OutputPathsTest, RunningJobsNeverShareAName)
{
    writeFile(dir / "a.png", "x");
    writeFile(dir / "a.jpg", "x");
    fs::path first, second;
    {
        Task::Binder jobA(Task::newJob());
        first = OutputPaths::destination(dir / "a.png", "webp");
        {
            // A second job, still before the first wrote anything.
            Task::Binder jobB(Task::newJob());
            second = OutputPaths::destination(dir / "a.jpg", "webp");
        }
        EXPECT_EQ(first, dir / "a.webp");
        EXPECT_EQ(second, dir / "a 2.webp");
        // Job B ended without writing: its name is free again, job A's is not.
        Task::Binder jobC(Task::newJob());
        EXPECT_EQ(OutputPaths::destination(dir / "a.jpg", "webp"), dir / "a 2.webp");
    }
    // Both jobs ended: everything is free again.
    EXPECT_EQ(OutputPaths::destination(dir / "a.png", "webp"), dir / "a.webp");
}

TEST_F(OutputPathsTest, ConcurrentJobsGetDistinctNames)
{
    writeFile(dir / "a.png", "x");
    std::vector<fs::path> names(8);
    std::vector<std::thread> threads;
    std::vector<Task::Context> contexts;
    for (int i = 0; i < 8; ++i)
        contexts.push_back(Task::newJob());
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            Task::Binder binder(contexts[size_t(i)]);
            names[size_t(i)] = OutputPaths::destination(dir / "a.png", "webp");
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(std::set<fs::path>(names.begin(), names.end()).size(), 8u);
}

TEST_F(OutputPathsTest, CommonFolderCounts)
{
    writeFile(dir / "a.jpg", "x");
    EXPECT_EQ(OutputPaths::makeCommonFolder(dir / "a.jpg", "PNG"), dir / "Convertidos para PNG");
    writeFile(dir / "Convertidos para PNG 2", "a file takes the name too");
    EXPECT_EQ(OutputPaths::makeCommonFolder(dir / "a.jpg", "PNG"), dir / "Convertidos para PNG 3");
    EXPECT_TRUE(fs::is_directory(dir / "Convertidos para PNG 3"));
}
