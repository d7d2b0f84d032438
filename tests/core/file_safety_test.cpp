#include "core/base/catalog.h"
#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "documents/dispatcher.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace TestSupport;

TEST(FileSafety, PlacingNeverReplacesAndFallsBackToTheNextFreeName)
{
    TempDir dir;
    writeFile(dir / "a.txt", "theirs");
    writeFile(dir / "a 2.txt", "theirs too");
    writeFile(dir / "mine", "mine");

    EXPECT_FALSE(FileSafety::moveNoReplace(dir / "mine", dir / "a.txt"));
    const auto placed = FileSafety::placeFree(dir / "mine", dir / "a.txt");
    EXPECT_EQ(placed, dir / "a 3.txt");
    EXPECT_EQ(readFile(dir / "a.txt"), "theirs");
    EXPECT_EQ(readFile(dir / "a 2.txt"), "theirs too");
    EXPECT_EQ(readFile(placed), "mine");
    EXPECT_FALSE(fs::exists(dir / "mine"));

    // A folder moves the same way and never merges into one that is there.
    fs::create_directories(dir / "src" / "inner");
    fs::create_directories(dir / "dst" / "inner");
    EXPECT_EQ(FileSafety::placeFree(dir / "src", dir / "dst"), dir / "dst 2");
    EXPECT_TRUE(fs::is_directory(dir / "dst 2" / "inner"));
}

TEST(FileSafety, MovingAcrossFileSystemsCopiesThenRemoves)
{
    // /dev/shm is a tmpfs, so it is another file system than the test's temporary folder.
    if (!fs::is_directory("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm";
    TempDir dir;
    const auto source = fs::path("/dev/shm") / ("kalvimorf-test-" + std::to_string(::getpid()));
    fs::create_directories(source / "sub");
    writeFile(source / "sub" / "f", "bytes");
    writeFile(dir / "out", "theirs");

    EXPECT_FALSE(FileSafety::moveNoReplace(source, dir / "out"));
    EXPECT_EQ(readFile(dir / "out"), "theirs");
    EXPECT_TRUE(FileSafety::moveNoReplace(source, dir / "moved"));
    EXPECT_EQ(readFile(dir / "moved" / "sub" / "f"), "bytes");
    EXPECT_FALSE(fs::exists(source));
    // No hidden staging copy is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 2);
}

TEST(FileSafety, NewFilesAreInvisibleUntilPublishedAndGoneWhenAbandoned)
{
    TempDir dir;
    {
        FileSafety::NewFile file(dir.path());
        file.write("half");
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));

    writeFile(dir / "out.csv", "theirs");
    FileSafety::NewFile file(dir.path());
    file.write("a,b\n");
    // A writer that wants a path reaches the same file through writerPath().
    writeFile(file.writerPath(), "a,b,c\n");
    const auto placed = file.publish(dir / "out.csv");
    EXPECT_EQ(placed, dir / "out 2.csv");
    EXPECT_EQ(readFile(placed), "a,b,c\n");
    EXPECT_EQ(readFile(dir / "out.csv"), "theirs");

    EXPECT_EQ(FileSafety::writeNew(dir / "out.csv", "x"), dir / "out 3.csv");
    EXPECT_EQ(FileSafety::copyNew(dir / "out 3.csv", dir / "out.csv"), dir / "out 4.csv");
    EXPECT_EQ(readFile(dir / "out 4.csv"), "x");
}

TEST(FileSafety, NamesTooLongAreShortenedOrFailInsteadOfLoopingForEver)
{
    TempDir dir;
    // 250 bytes, most in three-byte characters: " 2.txt" does not fit after them, and the cut
    // falls inside a character.
    std::string stem = "a";
    for (int i = 0; i < 83; ++i)
        stem += "\u2013";
    writeFile(dir / (stem + ".txt"), "x");
    writeFile(dir / "mine", "x");
    const auto placed = FileSafety::placeFree(dir / "mine", dir / (stem + ".txt")).filename().string();
    EXPECT_EQ(placed, stem.substr(0, 247) + " 2.txt");
    EXPECT_EQ(FileSafety::writeNew(OutputPaths::names(dir / stem, "txt"), "x").filename().string(),
        stem.substr(0, 247) + " 3.txt");
    // Only an extension that leaves no room at all still fails.
    FileSafety::NewFile file(dir.path());
    EXPECT_THROW(file.publish(dir / ("a." + std::string(255, 'x'))), fs::filesystem_error);
    EXPECT_THROW(FileSafety::writeNew(OutputPaths::names(dir / "a", std::string(255, 'x')), "x"), fs::filesystem_error);
}

TEST(FileSafety, TemporaryFoldersArePrivateAndRemovedEvenWhenReadOnlyInside)
{
    fs::path kept;
    {
        FileSafety::TempDir temp;
        kept = temp.path();
        struct stat info;
        ASSERT_EQ(::stat(kept.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        fs::create_directories(kept / "locked" / "deep");
        writeFile(kept / "locked" / "deep" / "f", "x");
        fs::permissions(kept / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(FileSafety, OnlyRegularFilesAreInputs)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.csv");
    writeFile(dir / "real.csv", "a");
    fs::create_symlink(dir / "real.csv", dir / "link.csv");
    EXPECT_THROW(FileSafety::requireRegularFile(dir / "fifo"), ConversionError);
    EXPECT_THROW(FileSafety::requireRegularFile(dir / "zero.csv"), ConversionError);
    EXPECT_THROW(FileSafety::requireRegularFile(dir / "missing"), ConversionError);
    EXPECT_NO_THROW(FileSafety::requireRegularFile(dir / "link.csv"));

    // The dispatcher refuses them before any reader can block on a FIFO or read for ever.
    fs::rename(dir / "fifo", dir / "fifo.srt");
    const auto tsv = Catalog::options({dir / "zero.csv"})->formats;
    for (const auto& [file, format] :
        {std::pair{dir / "fifo.srt", OutputFormat{"txt", "TXT", false}}, std::pair{dir / "zero.csv", tsv.front()}}) {
        try {
            Engine::convert(file, Catalog::kind(file), format, {});
            ADD_FAILURE() << file;
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), ConversionError::Kind::unreadable);
        }
    }
}
