// What the command line's roads take in, and what they give out: regular files only, whichever
// road (a link to a device or a FIFO planted in a shared folder is refused at once), and outputs
// never readable by anyone who could not read the source.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace TestSupport;

namespace {

// Through a shell that sets the usual umask and bounds what may be written, so that a road which
// still read a device could not fill the disk.
RunResult brivlon(const fs::path& folder, const std::vector<std::string>& arguments)
{
    std::vector<std::string> all = {"-c", "umask 022; exec /usr/bin/prlimit --fsize=50000000 \"$@\"", "sh", BRIVLON_BINARY};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgram("/bin/sh", all, 30, {}, folder.string());
}

unsigned modeOf(const fs::path& path)
{
    struct stat info;
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

fs::path printed(const RunResult& run)
{
    std::string out = run.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

}

TEST(InputRoads, EveryRoadTakesRegularFilesOnly)
{
    TempDir dir;
    fs::create_symlink("/dev/zero", dir / "zero.mp4");
    fs::create_symlink("/dev/zero", dir / "zero.png");
    ASSERT_EQ(::mkfifo((dir / "fila.mp4").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "fila.mp3").c_str(), 0600), 0);
    const std::vector<std::vector<std::string>> roads = {
        {"--trim", "0", "5", "keep", "fast", "zero.mp4"},
        {"--trim", "0", "5", "mp4", "exact", "fila.mp4"},
        {"--trim", "1-2,3-4", "-", "keep", "fast", "fila.mp3"},
        {"--convert", "webm", "zero.mp4"},
        {"--convert", "jpg", "zero.png"},
        {"--tool", "imgRotate", "--", "zero.png"},
        {"--tool", "vidJoin", "--", "fila.mp4", "zero.mp4"},
    };
    for (const auto& road : roads) {
        const auto run = brivlon(dir.path(), road);
        EXPECT_EQ(run.exitCode, 1) << road.front() << " " << road.back();
        EXPECT_NE(run.err.find("Não foi possível ler o arquivo."), std::string::npos) << road.back() << run.err;
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 4u);
}

TEST(InputRoads, AnOutputIsNoMoreReadableThanItsSource)
{
    // The victim's private files, and links to them planted in a folder others can read.
    TempDir dir;
    const fs::path own = dir / "vitima", shared = dir / "compartilhada";
    fs::create_directories(own / "fotos da festa");
    fs::create_directories(shared);
    const auto make = [&](const std::string& program, const std::vector<std::string>& arguments) {
        const auto run = runProgram(program, arguments, 60, {}, own.string());
        ASSERT_EQ(run.exitCode, 0) << program << run.err;
    };
    writeFile(own / "diário.md", "# Querido diário\n\nHoje *nada* aconteceu.\n");
    make("/usr/bin/vips", {"gaussnoise", "retrato.png", "64", "48"});
    make("/usr/bin/ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i", "sine=d=3", "-metadata", "title=Recado",
                                "recado.mp3"});
    make("/usr/bin/ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i", "color=red:s=64x48:d=2", "-pix_fmt", "yuv420p",
                                "fotos da festa/clipe.mp4"});
    make(BRIVLON_BINARY, {"--convert", "pdf", "diário.md"});
    fs::rename(own / "diário.pdf", own / "extrato.pdf");
    writeFile(own / "fotos da festa" / "lista.txt", "bolo\n");
    for (const char* name : {"diário.md", "retrato.png", "extrato.pdf"})
        fs::permissions(own / name, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(own / "recado.mp3", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::permissions(own / "fotos da festa" / "clipe.mp4", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(own / "fotos da festa", fs::perms::owner_all);
    for (const char* name : {"diário.md", "retrato.png", "recado.mp3", "fotos da festa", "extrato.pdf"})
        fs::create_symlink(own / name, shared / name);
    const fs::path clip = shared / "fotos da festa" / "clipe.mp4";

    // A PDF of two pages, so that its pictures go into a folder of pages.
    const auto pages = runProgram("/usr/bin/qpdf", {"--empty", "--pages", (own / "extrato.pdf").string(),
                                                       (own / "extrato.pdf").string(), "--", (own / "duas.pdf").string()});
    ASSERT_EQ(pages.exitCode, 0) << pages.err;
    fs::permissions(own / "duas.pdf", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(own / "duas.pdf", shared / "duas.pdf");

    struct Case {
        std::vector<std::string> arguments;
        unsigned mode;
    };
    const std::vector<Case> cases = {
        {{"--convert", "pdf", "diário.md"}, 0600},
        {{"--convert", "html", "diário.md"}, 0600},
        {{"--convert", "jpg", "retrato.png"}, 0600},
        {{"--tool", "imgRotate", "--", "retrato.png"}, 0600},
        {{"--convert", "wav", "recado.mp3"}, 0640},
        {{"--trim", "0", "1", "keep", "fast", "recado.mp3"}, 0640},
        {{"--convert", "zip", "fotos da festa"}, 0600},
        {{"--convert", "png", "duas.pdf"}, 0700},
        {{"--convert", "gif", clip.string()}, 0600},
    };
    for (const auto& one : cases) {
        const auto run = brivlon(shared, one.arguments);
        ASSERT_EQ(run.exitCode, 0) << one.arguments.back() << run.err;
        // Every mode prints where its output is, whatever folder it runs in.
        const fs::path output = printed(run);
        EXPECT_TRUE(output.is_absolute()) << output;
        EXPECT_EQ(modeOf(output), one.mode) << output;
        if (fs::is_directory(output))
            for (const auto& page : fs::directory_iterator(output))
                EXPECT_EQ(modeOf(page.path()), 0600u) << page.path();
    }
    // A source anyone may read keeps what the umask gives.
    writeFile(shared / "aberto.md", "# Aberto\n");
    fs::permissions(shared / "aberto.md", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read
            | fs::perms::others_read);
    EXPECT_EQ(modeOf(printed(brivlon(shared, {"--convert", "txt", "aberto.md"}))), 0644u);
}
