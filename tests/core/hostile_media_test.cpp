#include "core/base/catalog.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <set>

using namespace TestSupport;

// Media files that are something else: ffmpeg picks its reader by what a file holds, and a text
// playlist or a concat list names other files for it to read. And names that a list of files
// could mistake for its own syntax.
struct HostileMedia : ::testing::Test {
    TempDir dir;

    RunResult brivlon(const std::vector<std::string>& arguments)
    {
        auto run = runProgram(BRIVLON_BINARY, arguments, 180, {{"TMPDIR", (dir / "tmp").string()}}, dir.path());
        for (size_t at; (at = run.out.find(dir.path().string() + "/")) != std::string::npos;)
            run.out.erase(at, dir.path().string().size() + 1);
        return run;
    }
    std::set<std::string> names(const fs::path& folder) const
    {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder))
            found.insert(entry.path().filename().string());
        return found;
    }
    double length(const std::string& file)
    {
        const auto run = runProgram("/usr/bin/ffprobe",
            {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", (dir / file).string()}, 60);
        return run.exitCode == 0 ? std::stod(run.out) : -1;
    }
    void SetUp() override { fs::create_directory(dir / "tmp"); }
};

TEST_F(HostileMedia, PlaylistsAndListsPosingAsMediaAreRefused)
{
    // Someone's files elsewhere on the disk, and text files sent as media that name them.
    TempDir elsewhere;
    const auto secret = elsewhere / "privado.ts";
    ASSERT_TRUE(makeMedia(secret, "testsrc=duration=2:rate=5:size=64x48",
        {"-f", "lavfi", "-i", "sine=duration=2", "-c:v", "mpeg2video", "-c:a", "mp2", "-shortest"}));
    const auto playlist
        = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n" + secret.string() + "\n#EXT-X-ENDLIST\n";
    // A list may name only plain names beside it, as this one does.
    fs::copy_file(secret, dir / "segredo.ts");
    const std::string list = "ffconcat version 1.0\nfile 'segredo.ts'\n";
    writeFile(dir / "clip2.mp4", playlist);
    writeFile(dir / "lista.mov", list);
    writeFile(dir / "voz.mp3", list);
    writeFile(dir / "anima.gif", playlist);
    const auto before = names(dir.path());
    struct Case {
        std::vector<std::string> arguments;
    };
    for (const Case& attempt : std::vector<Case>{
             {{"--convert", "mp3", "clip2.mp4"}},
             {{"--convert", "mp3", "lista.mov"}},
             {{"--convert", "webp", "anima.gif"}},
             {{"--tool", "audTrim", "start=0,5", "--", "voz.mp3"}},
             {{"--tool", "vidCompress", "--", "clip2.mp4"}},
             {{"--tool", "vidJoin", "--", "clip2.mp4", "lista.mov"}},
             {{"--trim", "0", "1", "keep", "fast", "clip2.mp4"}},
             {{"--trim", "0-0.5,1-1.5", "-", "keep", "fast", "lista.mov"}},
         }) {
        const auto run = brivlon(attempt.arguments);
        EXPECT_EQ(run.exitCode, 1) << attempt.arguments[0] << " " << attempt.arguments[2] << run.out;
        EXPECT_EQ(run.err, "erro: Não foi possível ler o arquivo.\n") << attempt.arguments[2];
        EXPECT_EQ(names(dir.path()), before) << attempt.arguments[2];
    }
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

// Every container the catalogue takes in still converts, each file made as its usual tools
// write it.
TEST_F(HostileMedia, EveryContainerTheCatalogueTakesStillConverts)
{
    const std::string picture = "testsrc=duration=1:rate=10:size=176x144";
    const std::vector<std::pair<std::string, std::vector<std::string>>> videos = {
        {"mp4", {"-c:v", "libx264", "-c:a", "aac"}},
        {"mov", {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}},
        {"m4v", {"-c:v", "libx264", "-c:a", "aac", "-f", "mp4"}},
        {"mkv", {"-c:v", "mpeg4", "-c:a", "flac"}},
        {"webm", {"-c:v", "libvpx", "-c:a", "libopus", "-deadline", "realtime"}},
        {"avi", {"-c:v", "mpeg4", "-c:a", "libmp3lame"}},
        {"wmv", {"-c:v", "wmv2", "-c:a", "wmav2"}},
        {"flv", {"-c:v", "flv", "-c:a", "libmp3lame", "-ar", "44100"}},
        {"mpg", {"-r", "25", "-c:v", "mpeg1video", "-c:a", "mp2", "-f", "mpeg"}},
        {"mpeg", {"-r", "25", "-c:v", "mpeg2video", "-c:a", "mp2", "-f", "mpeg"}},
        {"vob", {"-r", "25", "-c:v", "mpeg2video", "-c:a", "ac3", "-f", "vob"}},
        {"3gp", {"-c:v", "h263", "-c:a", "aac", "-ar", "8000", "-ac", "1"}},
        {"ts", {"-c:v", "libx264", "-c:a", "aac"}},
        {"mts", {"-c:v", "libx264", "-c:a", "ac3", "-f", "mpegts"}},
        {"m2ts", {"-c:v", "libx264", "-c:a", "aac", "-f", "mpegts", "-mpegts_m2ts_mode", "1"}},
        {"ogv", {"-c:v", "libtheora", "-c:a", "libvorbis"}},
    };
    const std::vector<std::pair<std::string, std::vector<std::string>>> sounds = {
        {"mp3", {"-c:a", "libmp3lame"}},
        {"m4a", {"-c:a", "aac"}},
        {"m4b", {"-c:a", "aac", "-f", "ipod"}},
        {"alac", {"-c:a", "alac", "-f", "ipod"}},
        {"aac", {"-c:a", "aac", "-f", "adts"}},
        {"wav", {"-c:a", "pcm_s16le"}},
        {"flac", {"-c:a", "flac"}},
        {"ogg", {"-c:a", "libvorbis"}},
        {"opus", {"-c:a", "libopus"}},
        {"aiff", {"-c:a", "pcm_s16be"}},
        {"wma", {"-c:a", "wmav2", "-f", "asf"}},
        {"caf", {"-c:a", "pcm_s16le", "-f", "caf"}},
    };
    // One run for each kind: a selection of videos and sounds together has no common format.
    std::vector<std::string> videosToMp3 = {"--convert", "mp3"}, toMp3 = videosToMp3, toWav = {"--convert", "wav"};
    for (const auto& [ext, options] : videos) {
        EXPECT_TRUE(Catalog::isVideoExt(ext)) << ext;
        auto all = options;
        all.insert(all.begin(), {"-f", "lavfi", "-i", "sine=duration=1"});
        all.push_back("-shortest");
        ASSERT_TRUE(makeMedia(dir / ("v-" + ext + "." + ext), picture, all)) << ext;
        videosToMp3.push_back("v-" + ext + "." + ext);
    }
    for (const auto& [ext, options] : sounds) {
        EXPECT_TRUE(Catalog::isAudioExt(ext)) << ext;
        ASSERT_TRUE(makeMedia(dir / ("a-" + ext + "." + ext), "sine=duration=1", options)) << ext;
        (ext == "mp3" ? toWav : toMp3).push_back("a-" + ext + "." + ext);
    }
    // No encoder for AMR here: frames of a phone's recorder, as the format's header and 12.2 kbit/s
    // frames of silence.
    std::string amr = "#!AMR\n";
    for (int i = 0; i < 50; ++i)
        amr += '\x3c' + std::string(31, '\0');
    writeFile(dir / "a-amr.amr", amr);
    toMp3.push_back("a-amr.amr");

    for (const auto& arguments : {videosToMp3, toMp3, toWav}) {
        const auto run = brivlon(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        // One output a line, each as long as its source.
        size_t outputs = 0;
        for (size_t start = 0, end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1, ++outputs)
            EXPECT_NEAR(length(run.out.substr(start, end - start)), 1, 0.3) << run.out.substr(start, end - start);
        EXPECT_EQ(outputs, arguments.size() - 2) << run.out;
    }
}

// A join lists its files for ffmpeg one a line: a name must join as itself, whatever it holds.
TEST_F(HostileMedia, NamesJoinAsThemselves)
{
    const std::vector<std::string> odd
        = {"q\nfile 'outro.mp4'\n#.mp4", "linha\nnova.mp4", "it's \\ 'x'.mp4", "#marca.mp4", "-traço.mp4", "a\r.mp4"};
    // The name the crafted one tries to slip in, three times as long as each of the others.
    ASSERT_TRUE(makeMedia(dir / "outro.mp4", "testsrc=duration=3:rate=5:size=160x90",
        {"-f", "lavfi", "-i", "sine=duration=3", "-pix_fmt", "yuv420p", "-shortest"}));
    for (const auto& name : odd)
        ASSERT_TRUE(makeMedia(dir / name, "testsrc=duration=1:rate=5:size=160x90",
            {"-f", "lavfi", "-i", "sine=duration=1", "-pix_fmt", "yuv420p", "-shortest"}));
    for (const auto& name : {"q\n'.mp3", "b\\\n.mp3", "#c.mp3"})
        ASSERT_TRUE(makeMedia(dir / name, "sine=duration=1"));

    const auto joined = [&](const std::string& tool, std::vector<std::string> files) {
        const auto before = names(dir.path());
        files.insert(files.begin(), {"--tool", tool, "--"});
        const auto run = brivlon(files);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> made;
        for (const auto& name : names(dir.path()))
            if (!before.count(name))
                made.push_back(name);
        EXPECT_EQ(made.size(), 1u);
        return made.empty() ? -1 : length(made.front());
    };
    EXPECT_NEAR(joined("vidJoin", odd), double(odd.size()), 0.3);
    EXPECT_NEAR(joined("vidJoin", {"linha\nnova.mp4", "#marca.mp4"}), 2, 0.3);
    EXPECT_NEAR(joined("audJoin", {"q\n'.mp3", "b\\\n.mp3", "#c.mp3"}), 3, 0.3);
    // The editor's export of several ranges joins its cut parts the same way.
    const auto run = brivlon({"--trim", "0-0.4,0.6-1", "-", "keep", "fast", "q\nfile 'outro.mp4'\n#.mp4"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // A stream copy starts at a key frame: each part is at least as long as asked.
    EXPECT_GT(length("q\nfile 'outro.mp4'\n# (aparado).mp4"), 0.7);
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

// Files cut short or only named like media: ffmpeg names the cause in its own words, and the
// user reads the program's sentence for it, never that ffmpeg failed. A song whose cover is
// broken still trims, without the cover; a MIDI score, which nothing here plays, is not offered.
TEST_F(HostileMedia, DamagedFilesSayTheirCause)
{
    const auto picture = "testsrc2=duration=2:rate=25:size=320x240";
    ASSERT_TRUE(makeMedia(dir / "inteiro.mkv", picture,
        {"-f", "lavfi", "-i", "sine=duration=2", "-c:v", "libx264", "-c:a", "aac", "-shortest"}));
    ASSERT_TRUE(makeMedia(dir / "inteiro.webm", picture,
        {"-f", "lavfi", "-i", "sine=duration=2", "-c:v", "libvpx", "-c:a", "libopus", "-deadline", "realtime",
            "-shortest"}));
    // Stubs of a download that stopped after its first kilobytes.
    writeFile(dir / "baixando.mkv", readFile(dir / "inteiro.mkv").substr(0, 1200));
    writeFile(dir / "baixando.webm", readFile(dir / "inteiro.webm").substr(0, 2000));
    // Bytes that only bear an MP3's name, as a failed download saves them.
    std::string junk;
    for (int i = 0; i < 3000; ++i)
        junk += char((i * 7919 + 13) % 251);
    writeFile(dir / "musica.mp3", junk);
    // A LAME MP3 with its cover, whose JPEG keeps its marker but lost its body.
    ASSERT_TRUE(makeMedia(dir / "capa.jpg", "color=c=red:size=64x64", {"-frames:v", "1"}));
    ASSERT_TRUE(makeMedia(dir / "com capa.mp3", "sine=duration=3",
        {"-i", (dir / "capa.jpg").string(), "-map", "0", "-map", "1", "-c:a", "libmp3lame", "-c:v", "copy",
            "-id3v2_version", "3", "-disposition:v", "attached_pic"}));
    auto song = readFile(dir / "com capa.mp3");
    const auto cover = song.find("\xff\xd8\xff");
    ASSERT_NE(cover, std::string::npos);
    song.replace(cover + 4, 200, std::string(200, 'Z'));
    writeFile(dir / "capa quebrada.mp3", song);
    // An MP4 whose picture's sample table declares 2^31 samples of one size: no packet of it is
    // where the header says.
    ASSERT_TRUE(makeMedia(dir / "inteiro.mp4", picture,
        {"-f", "lavfi", "-i", "sine=duration=2", "-c:v", "libx264", "-c:a", "aac", "-shortest"}));
    auto movie = readFile(dir / "inteiro.mp4");
    const auto sizes = movie.find("stsz");
    ASSERT_NE(sizes, std::string::npos);
    movie.replace(sizes + 8, 8, std::string("\0\0\0\x64\x80\0\0\0", 8));
    writeFile(dir / "amostras.mp4", movie);
    writeFile(dir / "partitura.mid", std::string("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\4\0\xff\x2f\0", 26));

    for (const auto& name : {"inteiro.mkv", "inteiro.webm", "inteiro.mp4", "capa.jpg", "com capa.mp3"})
        fs::remove(dir / name);
    const auto before = names(dir.path());
    const std::string damaged = "erro: O arquivo está danificado ou incompleto.\n";
    for (const auto& [arguments, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--convert", "mp4", "baixando.mkv"}, damaged},
             {{"--convert", "gif", "baixando.webm"}, damaged},
             {{"--tool", "vidCompress", "--", "baixando.mkv"}, damaged},
             {{"--tool", "audNormalize", "--", "baixando.webm"}, damaged},
             {{"--tool", "audNormalize", "--", "musica.mp3"}, damaged},
             {{"--tool", "audTrim", "start=0,end=1", "--", "musica.mp3"}, damaged},
             {{"--trim", "0", "1", "keep", "fast", "musica.mp3"}, damaged},
             {{"--convert", "webm", "amostras.mp4"}, damaged},
             {{"--trim", "0", "1", "keep", "fast", "amostras.mp4"}, damaged},
             {{"--trim", "0", "1", "mp4", "x", "amostras.mp4"}, damaged},
             {{"--trim", "0-0.5,1-1.5", "-", "keep", "fast", "amostras.mp4"}, damaged},
             {{"--convert", "mp3", "partitura.mid"}, "sem essa conversão para essa seleção\n"},
         }) {
        const auto run = brivlon(arguments);
        EXPECT_NE(run.exitCode, 0) << arguments.back();
        EXPECT_EQ(run.err, said) << arguments[1] << " " << arguments.back();
    }
    EXPECT_EQ(names(dir.path()), before);
    EXPECT_EQ(Catalog::kind("partitura.mid"), MediaKind::other);

    const auto cut = brivlon({"--trim", "0", "1", "keep", "fast", "capa quebrada.mp3"});
    EXPECT_EQ(cut.exitCode, 0) << cut.err;
    EXPECT_NEAR(length("capa quebrada (aparado).mp3"), 1, 0.2);
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}
