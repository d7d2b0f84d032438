#include "core/process.h"
#include "job_fakes.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <vips/vips8>

using TestSupport::runBrivlon;
using TestSupport::TempDir;

namespace {

// A noisy picture, so that quality levels make a visible difference in size.
void makeImage(const fs::path& path, int width = 64, int height = 48)
{
    static bool started = [] { return VIPS_INIT("brivlon-tests") == 0; }();
    ASSERT_TRUE(started);
    auto noise = vips::VImage::gaussnoise(width, height, vips::VImage::option()->set("mean", 128.0)->set("sigma", 60.0));
    auto rgb = noise.bandjoin({noise.rotate(0), noise.flip(VIPS_DIRECTION_HORIZONTAL)}).cast(VIPS_FORMAT_UCHAR);
    rgb.write_to_file(path.c_str());
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

TestSupport::RunResult convert(const std::vector<std::string>& arguments,
                               const std::vector<std::pair<std::string, std::string>>& env = {})
{
    std::vector<std::string> all = {"--convert"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runBrivlon(all, 120, env);
}

}

TEST(HeadlessConversion, NoSuchConversionExitsWith2)
{
    TempDir dir;
    makeImage(dir / "a.jpg");
    TestSupport::writeFile(dir / "b.mp4", "x");
    const std::vector<std::vector<std::string>> cases = {
        {"jpg", (dir / "a.jpg").string()},                          // its own format is not offered
        {"png", (dir / "a.jpg").string(), (dir / "b.mp4").string()}, // two kinds
        {"mp3", (dir / "a.jpg").string()},                          // nothing of that name for images
    };
    for (const auto& arguments : cases) {
        auto result = convert(arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("sem essa conversão para essa seleção\n"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(fs::exists(dir / "a.png"));
}

TEST(HeadlessConversion, FormatMatchingByLabelThenExtension)
{
    TempDir dir;
    makeImage(dir / "a.jpg");
    makeImage(dir / "b.png");
    makeImage(dir / "c.png");

    // Label and extension in any case choose the same format.
    auto upper = convert({"PNG", (dir / "a.jpg").string()});
    auto lower = convert({"png", (dir / "a.jpg").string()});
    ASSERT_EQ(upper.exitCode, 0) << upper.err;
    ASSERT_EQ(lower.exitCode, 0) << lower.err;
    EXPECT_EQ(upper.out, (dir / "a.png").string() + "\n");
    EXPECT_EQ(lower.out, (dir / "a 2.png").string() + "\n");

    // "pdf" is the plain PDF label: one PDF per image in a common folder, in argument order.
    auto perImage = convert({"pdf", (dir / "c.png").string(), (dir / "b.png").string()});
    ASSERT_EQ(perImage.exitCode, 0) << perImage.err;
    EXPECT_EQ(lines(perImage.out), (std::vector<std::string>{(dir / "Convertidos para PDF/c.pdf").string(),
                                                             (dir / "Convertidos para PDF/b.pdf").string()}));

    // "PDF ÚNICO" in any case merges into one.
    auto merged = convert({"pdf único", (dir / "c.png").string(), (dir / "b.png").string()});
    ASSERT_EQ(merged.exitCode, 0) << merged.err;
    EXPECT_EQ(lines(merged.out).size(), 1u);
    EXPECT_TRUE(fs::exists(lines(merged.out).front()));
}

TEST(HeadlessConversion, CommonFolderCountsAndQualityIsExact)
{
    TempDir dir;
    makeImage(dir / "a.png", 400, 300);
    makeImage(dir / "b.tiff", 400, 300);
    auto first = convert({"jpg", (dir / "a.png").string(), (dir / "b.tiff").string()}, {{"BRIVLON_QUALITY", "light"}});
    auto second = convert({"jpg", (dir / "a.png").string(), (dir / "b.tiff").string()}, {{"BRIVLON_QUALITY", "Light"}});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_EQ(second.exitCode, 0) << second.err;
    const auto light = dir / "Convertidos para JPG/a.jpg";
    const auto high = dir / "Convertidos para JPG 2/a.jpg";
    ASSERT_TRUE(fs::exists(light));
    ASSERT_TRUE(fs::exists(high));
    // "Light" is no level: the saved choice (high) applies.
    EXPECT_LT(fs::file_size(light), fs::file_size(high));
}

TEST(HeadlessConversion, FailureStopsAtTheFailingFile)
{
    TempDir dir;
    makeImage(dir / "a.png");
    TestSupport::writeFile(dir / "b.png", "not really a picture");
    makeImage(dir / "c.png");
    auto result = convert({"jpg", (dir / "a.png").string(), (dir / "b.png").string(), (dir / "c.png").string()});
    EXPECT_EQ(result.exitCode, 1);
    const auto folder = dir / "Convertidos para JPG";
    EXPECT_EQ(result.out, (folder / "a.jpg").string() + "\n");
    EXPECT_NE(result.err.find("erro: "), std::string::npos);
    EXPECT_TRUE(fs::exists(folder / "a.jpg"));
    EXPECT_FALSE(fs::exists(folder / "b.jpg"));
    EXPECT_FALSE(fs::exists(folder / "c.jpg"));
}

TEST(HeadlessConversion, ArchiveFormatsByLabelExtensionAndExtract)
{
    TempDir dir;
    fs::create_directories(dir / "docs");
    TestSupport::writeFile(dir / "docs/readme.txt", "hello");

    // A folder offers only batch formats: "tar.gz" is the label TAR.GZ.
    auto packed = convert({"tar.gz", (dir / "docs").string()});
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    EXPECT_EQ(packed.out, (dir / "docs.tar.gz").string() + "\n");

    auto zipped = convert({"ZIP", (dir / "docs").string()});
    ASSERT_EQ(zipped.exitCode, 0) << zipped.err;
    const auto zip = dir / "docs.zip";
    ASSERT_TRUE(fs::exists(zip));

    // An archive's "tgz" is the extension of the repack format; "extrair" and "" both unpack.
    auto repacked = convert({"tgz", zip.string()});
    ASSERT_EQ(repacked.exitCode, 0) << repacked.err;
    EXPECT_EQ(repacked.out, (dir / "docs 2.tar.gz").string() + "\n");

    fs::remove_all(dir / "docs");
    auto extracted = convert({"EXTRAIR", zip.string()});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    auto again = convert({"", zip.string()});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(extracted.out, again.out);
}

TEST(HeadlessConversion, WithoutResourcesThereIsNoVideoEngine)
{
    TempDir dir;
    fs::copy_file(BRIVLON_BINARY, dir / "brivlon");
    TestSupport::writeFile(dir / "tone.wav", "RIFF");
    auto result = TestSupport::runProgram((dir / "brivlon").string(), {"--convert", "mp3", (dir / "tone.wav").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("erro: O motor de vídeo do Brivlon está faltando. Reinstale o app."), std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(dir / "tone.mp3"));
}

TEST(HeadlessConversion, TerminationSignalsEndTheRunAndItsToolsLeavingNothing)
{
    TempDir dir;
    const auto input = dir / "longo.mov";
    auto made = TestSupport::runProgram("/usr/bin/ffmpeg", {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
        "testsrc=duration=40:size=640x480:rate=30", "-c:v", "libx264", "-preset", "ultrafast", input.string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    fs::create_directories(dir / "tmp");
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        Process::Command command{BRIVLON_BINARY, {"--convert", "mp4", input.string()}};
        command.env = {{"TMPDIR", (dir / "tmp").string()}};
        Process::Child run(command);
        // ffmpeg runs in a process group of its own, out of reach of a signal to the program.
        ASSERT_TRUE(JobFakes::pumpUntil([&] { return JobFakes::processes("ffmpeg", input.string()) > 0; }, 60));
        ::kill(run.pid(), signal);
        const auto ended = [&] {
            siginfo_t info{};
            return ::waitid(P_PID, id_t(run.pid()), &info, WEXITED | WNOWAIT | WNOHANG) == 0 && info.si_pid == run.pid();
        };
        ASSERT_TRUE(JobFakes::pumpUntil(ended, 20));
        const int status = run.wait();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_TRUE(JobFakes::pumpUntil([&] { return JobFakes::processes("ffmpeg", input.string()) == 0; }, 10));
        for (const auto& entry : fs::directory_iterator(dir / "tmp"))  // Qt keeps its runtime folder there
            EXPECT_EQ(entry.path().filename().string().find("kalvimorf"), std::string::npos) << entry.path();
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2) << "an output was left";
    }
}
