#include "core/process.h"
#include "job_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <vips/vips8>

using namespace TestSupport;

namespace {

// A noisy picture, so that quality levels make a visible difference in size.
void makeImage(const fs::path& path, int width = 64, int height = 48)
{
    auto noise
        = vips::VImage::gaussnoise(width, height, vips::VImage::option()->set("mean", 128.0)->set("sigma", 60.0));
    auto rgb = noise.bandjoin({noise.rotate(0), noise.flip(VIPS_DIRECTION_HORIZONTAL)}).cast(VIPS_FORMAT_UCHAR);
    rgb.write_to_file(path.c_str());
}

// Runs --convert with the files of `dir`; standard output with `dir` taken out of every path.
RunResult convert(const fs::path& dir, const std::string& format, const std::vector<std::string>& names,
    const std::vector<std::pair<std::string, std::string>>& env = {})
{
    std::vector<std::string> all = {"--convert", format};
    for (const auto& name : names)
        all.push_back((dir / name).string());
    auto result = runBrivlon(all, 120, env);
    for (size_t at; (at = result.out.find(dir.string() + "/")) != std::string::npos;)
        result.out.erase(at, dir.string().size() + 1);
    return result;
}

}

TEST(HeadlessConversion, FormatChoiceOutputsAndExitCodes)
{
    TempDir dir;
    for (const auto& name : {"a.jpg", "b.png", "c.png"})
        makeImage(dir / name);
    writeFile(dir / "b.mp4", "x");
    writeFile(dir / "docs/readme.txt", "hello");
    const std::vector<std::tuple<std::string, std::vector<std::string>, int, std::string>> cases = {
        {"jpg", {"a.jpg"}, 2, ""},  // a selection's own format is not offered
        {"png", {"a.jpg", "b.mp4"}, 2, ""},  // two kinds
        {"mp3", {"a.jpg"}, 2, ""},
        // Labels and extensions in any case; "pdf" is the plain PDF label, one PDF per image in
        // a common folder in argument order, while "PDF ÚNICO" merges.
        {"PNG", {"a.jpg"}, 0, "a.png\n"},
        {"png", {"a.jpg"}, 0, "a 2.png\n"},
        {"pdf", {"c.png", "b.png"}, 0, "Convertidos para PDF/c.pdf\nConvertidos para PDF/b.pdf\n"},
        {"pdf único", {"c.png", "b.png"}, 0, "b – combinado.pdf\n"},
        // A folder offers only batch formats: "tar.gz" is the label TAR.GZ. An archive's "tgz"
        // is the extension of its repack format; "extrair" and "" both unpack.
        {"tar.gz", {"docs"}, 0, "docs.tar.gz\n"},
        {"ZIP", {"docs"}, 0, "docs.zip\n"},
        {"tgz", {"docs.zip"}, 0, "docs 2.tar.gz\n"},
        {"EXTRAIR", {"docs.zip"}, 0, "docs 2\n"},
        {"", {"docs.zip"}, 0, "docs 3\n"},
    };
    for (const auto& [format, inputs, exitCode, out] : cases) {
        SCOPED_TRACE(format);
        auto result = convert(dir.path(), format, inputs);
        EXPECT_EQ(result.exitCode, exitCode) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err.find("sem essa conversão para essa seleção\n") != std::string::npos, exitCode == 2);
    }
}

TEST(HeadlessConversion, CommonFoldersQualityAndFailures)
{
    TempDir dir;
    makeImage(dir / "a.png", 400, 300);
    makeImage(dir / "b.tiff", 400, 300);
    for (const auto* level : {"light", "Light"})
        EXPECT_EQ(convert(dir.path(), "jpg", {"a.png", "b.tiff"}, {{"BRIVLON_QUALITY", level}}).exitCode, 0);
    // "Light" is no level: the saved choice (high) applies.
    EXPECT_LT(fs::file_size(dir / "Convertidos para JPG/a.jpg"), fs::file_size(dir / "Convertidos para JPG 2/a.jpg"));

    // A failure stops at the failing file; earlier outputs stay.
    writeFile(dir / "b.png", "not really a picture");
    makeImage(dir / "c.png");
    auto result = convert(dir.path(), "jpg", {"a.png", "b.png", "c.png"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "Convertidos para JPG 3/a.jpg\n");
    EXPECT_NE(result.err.find("erro: "), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Convertidos para JPG 3"), {}), 1);

    fs::copy_file(BRIVLON_BINARY, dir / "brivlon");  // without its resources folder: no video engine
    writeFile(dir / "tone.wav", "RIFF");
    auto alone = runProgram((dir / "brivlon").string(), {"--convert", "mp3", (dir / "tone.wav").string()});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_NE(alone.err.find("erro: O motor de vídeo do Brivlon está faltando. Reinstale o app."), std::string::npos);
}

TEST(HeadlessConversion, TerminationSignalsEndTheRunAndItsToolsLeavingNothing)
{
    TempDir dir;
    const auto input = dir / "longo.mov";
    ASSERT_EQ(runProgram("/usr/bin/ffmpeg", {"-f", "lavfi", "-i", "testsrc=duration=40:size=640x480", input.string()})
                  .exitCode,
        0);
    fs::create_directories(dir / "tmp");
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        Process::Command command{BRIVLON_BINARY, {"--convert", "mp4", input.string()}};
        command.env = {{"TMPDIR", (dir / "tmp").string()}};
        Process::Child run(command);
        // ffmpeg runs in a process group of its own, out of reach of a signal to the program.
        ASSERT_TRUE(JobFakes::pumpUntil(
            [&] {
                return JobFakes::processes("ffmpeg", input.string()) > 0;
            },
            60));
        ::kill(run.pid(), signal);
        siginfo_t info{};
        ASSERT_TRUE(JobFakes::pumpUntil(
            [&] {
                return ::waitid(P_PID, id_t(run.pid()), &info, WEXITED | WNOWAIT | WNOHANG) == 0 && info.si_pid;
            },
            20));
        const int status = run.wait();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_TRUE(JobFakes::pumpUntil(
            [&] {
                return JobFakes::processes("ffmpeg", input.string()) == 0;
            },
            10));
        for (const auto& entry : fs::directory_iterator(dir / "tmp"))  // Qt keeps its runtime folder there
            EXPECT_EQ(entry.path().filename().string().find("kalvimorf"), std::string::npos) << entry.path();
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "an output was left";
    }
}
