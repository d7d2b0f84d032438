// The scripted scenarios through the program itself, on the private X server of support/with-x.
#include "support/test_support.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

using namespace TestSupport;

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

RunResult scenario(const std::vector<std::string>& arguments, const fs::path& cwd = {})
{
    auto run = runProgram(BRIVLON_BINARY, arguments, 60, {}, cwd.string());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run;
}

}

TEST(Scenarios, TheSingleKeyStepsThroughTheModesThatHaveCards)
{
    TempDir dir;
    writeFile(dir / "a.png", "x");
    writeFile(dir / "x.qqq", "x");
    EXPECT_EQ(scenario({"--single-cycle-test", (dir / "a.png").string()}).out,
        "convert → tools → actions → convert → tools\n");
    // Anything can at least be packed: convert and the actions take turns.
    EXPECT_EQ(scenario({"--single-cycle-test", (dir / "x.qqq").string()}).out,
        "convert → actions → convert → actions → convert\n");
}

TEST(Scenarios, SeparateKeysOpenSwapCloseAndReopen)
{
    EXPECT_EQ(lines(scenario({"--wheel-cycle-test"}).out),
        (std::vector<std::string>{"aberta: true", "trocou p/ ferramentas, modo=tools",
            "logo após fechar (animando): true", "depois da animação: false", "reaberta: true"}));
}

TEST(Scenarios, ThePanelPicturedThenHiddenWhileTheJobFinishes)
{
    TempDir dir;
    ASSERT_TRUE(makeMedia(dir / "clip.mp4", "testsrc=size=320x240:rate=25", {"-t", "1"}));
    const auto run = scenario({"--hud-test", (dir / "hud.png").string(), (dir / "clip.mp4").string()});
    // Said 0.4 s after the hide, whatever shows then: the panel's fade is over by then, and a
    // scenario that waited for the panel to go could never say "sim".
    EXPECT_EQ(lines(run.out),
        (std::vector<std::string>{"painel visível 0,4 s depois de ocultar: não", "✓ concluído oculto: clip.webm"}));
    EXPECT_EQ(QImage(QString::fromStdString((dir / "hud.png").string())).width(), 330);
    EXPECT_TRUE(fs::exists(dir / "clip.webm"));
}

TEST(Scenarios, CancelledConversionsLeaveNoEncoderAndNoPartialFile)
{
    TempDir dir;
    ASSERT_TRUE(makeMedia(dir / "um.mp4", "testsrc=size=640x480:rate=30", {"-t", "8"}));
    fs::copy_file(dir / "um.mp4", dir / "dois.mp4");
    const auto run = scenario(
        {"--cancel-test", (dir / "painel.png").string(), (dir / "um.mp4").string(), (dir / "dois.mp4").string()});
    const auto said = lines(run.out);
    ASSERT_EQ(said.size(), 4u) << run.out;
    // Cancelled 2 s in, with the encoders under way: not at their first report of progress.
    int first = 0, second = 0;
    ASSERT_EQ(std::sscanf(said[0].c_str(), "antes: um.mp4=%d%% dois.mp4=%d%%", &first, &second), 2) << said[0];
    EXPECT_GT(std::max(first, second), 0) << said[0];
    EXPECT_EQ(said[1], "ffmpeg do 1º arquivo ainda rodando: 0");
    EXPECT_EQ(said[2], "✕ um.mp4: cancelado · arquivo parcial existe? não");
    EXPECT_EQ(said[3], "✕ dois.mp4: cancelado · arquivo parcial existe? não");
    EXPECT_TRUE(fs::exists(dir / "painel.png"));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".webm") << entry.path();
}
