#include "core/state/chime.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

TEST(ExportChimeTest, WritesTheNamedSoundTheCompletionSoundForAnyOtherWordOrFails)
{
    TempDir dir;
    const std::pair<std::vector<std::string>, Chime::Kind> cases[]
        = {{{"harp"}, Chime::Kind::harp}, {{"Failure"}, Chime::Kind::success}, {{}, Chime::Kind::success}};
    const auto out = dir / "som.wav";
    for (const auto& [words, kind] : cases) {
        std::vector<std::string> arguments = {"--export-chime", out.string()};
        arguments.insert(arguments.end(), words.begin(), words.end());
        const auto result = runBrivlon(arguments, 60);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_TRUE(result.out.empty());
        const auto expected = Chime::wavData(kind);
        EXPECT_TRUE(readFile(out) == std::string(expected.begin(), expected.end())) << words.size();
    }
    // An unwritable place is an error, said in Portuguese as in every other mode.
    fs::create_directories(dir / "pasta.wav");
    const std::pair<fs::path, std::string> unwritable[]
        = {{dir / "nao-existe" / "a.wav", "erro: A pasta “nao-existe” não existe (" + dir.path().string() + ").\n"},
            {dir / "pasta.wav", "erro: “pasta.wav” é uma pasta, não um arquivo.\n"}};
    for (const auto& [out, said] : unwritable) {
        const auto result = runBrivlon({"--export-chime", out.string(), "flip"}, 60);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err, said);
    }
    EXPECT_FALSE(fs::exists(dir / "nao-existe"));
    EXPECT_TRUE(fs::is_directory(dir / "pasta.wav"));
}

}
