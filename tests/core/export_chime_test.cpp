#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

TEST(ExportChimeTest, WritesEachKindAsWav)
{
    TempDir dir;
    const std::vector<std::pair<std::string, size_t>> kinds = {
        {"failure", 88244}, {"shuffle", 19448}, {"flip", 52964}, {"wand", 141164}, {"harp", 149984}};
    for (const auto& [kind, size] : kinds) {
        const auto out = dir / (kind + ".wav");
        auto result = runBrivlon({"--export-chime", out.string(), kind}, 60);
        EXPECT_EQ(result.exitCode, 0) << kind << result.err;
        EXPECT_TRUE(result.out.empty());
        ASSERT_TRUE(fs::exists(out)) << kind;
        EXPECT_EQ(fs::file_size(out), size) << kind;
        EXPECT_EQ(readFile(out).substr(0, 4), "RIFF");
    }
}

TEST(ExportChimeTest, AnyOtherWordGivesTheCompletionSound)
{
    TempDir dir;
    std::vector<std::string> contents;
    for (const auto& extra : std::vector<std::vector<std::string>>{{}, {"success"}, {"Failure"}, {"xyz"}}) {
        auto out = dir / ("c" + std::to_string(contents.size()) + ".wav");
        std::vector<std::string> arguments = {"--export-chime", out.string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        auto result = runBrivlon(arguments, 60);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        contents.push_back(readFile(out));
    }
    EXPECT_EQ(contents[0].size(), 132344u);
    for (const auto& each : contents)
        EXPECT_EQ(each, contents[0]);
    // An existing file is replaced.
    auto again = runBrivlon({"--export-chime", (dir / "c0.wav").string(), "shuffle"}, 60);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(fs::file_size(dir / "c0.wav"), 19448u);
}

TEST(ExportChimeTest, UnwritableFileIsAnError)
{
    TempDir dir;
    const auto out = dir / "nao-existe" / "a.wav";
    auto result = runBrivlon({"--export-chime", out.string(), "flip"}, 60);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.rfind("erro: ", 0), 0u) << result.err;
    EXPECT_GT(result.err.size(), 7u);
    EXPECT_FALSE(fs::exists(out));

    // A folder in the file's place.
    fs::create_directories(dir / "pasta.wav");
    result = runBrivlon({"--export-chime", (dir / "pasta.wav").string()}, 60);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(fs::is_directory(dir / "pasta.wav"));
}

}
