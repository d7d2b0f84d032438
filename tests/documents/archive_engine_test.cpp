#include "documents/archive_engine.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;
using Tree = std::map<std::string, std::string>;

namespace {

const OutputFormat zip{"zip", "ZIP", false}, tar{"tar", "TAR", false}, tgz{"tgz", "TAR.GZ", false};

void run(const std::string& program, const std::vector<std::string>& arguments, const fs::path& cwd = {})
{
    auto result = runProgram(program, arguments, 120, {}, cwd.string());
    ASSERT_EQ(result.exitCode, 0) << program << ": " << result.err;
}

// Relative path → content: "/" for a folder, "->target" for a link, "?" for anything else.
Tree tree(const fs::path& root)
{
    Tree entries;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        entries[entry.path().lexically_relative(root).string()] = entry.is_symlink()
            ? "->" + fs::read_symlink(entry.path()).string()
            : entry.is_directory()    ? "/"
            : entry.is_regular_file() ? readFile(entry.path())
                                      : "?";
    return entries;
}

template <typename... Arguments> bool noRoom(Arguments... arguments)
{
    return std::strstr(thrown(arguments...).what(), "não cabe no disco");
}

}

class ArchiveEngineTest : public ::testing::Test {
protected:
    // A private temporary directory, so that other tests' folders never disturb the check.
    void SetUp() override { useTempFolder(scratch / "tmp"); }
    void useTempFolder(const fs::path& folder)
    {
        fs::create_directories(tmp = folder);
        setenv("TMPDIR", tmp.c_str(), 1);
    }

    void TearDown() override
    {
        ArchiveEngine::setRoomProbe({});
        EXPECT_TRUE(fs::is_empty(tmp)) << "a temporary folder was left behind";
        for (const auto& entry : tree(work.path()))
            EXPECT_EQ(entry.first.find(".kalvimorf-"), std::string::npos) << entry.first;
        fs::remove_all(tmp);
        unsetenv("TMPDIR");
    }

    fs::path file(const fs::path& name, const std::string& text) { return writeFile(work / name, text), work / name; }

    void python(const std::string& script) { run("/usr/bin/python3", {"-c", script}, work.path()); }

    fs::path make(std::vector<std::string> arguments, const std::string& name)
    {
        arguments.insert(arguments.begin(), {"-a", "-cf", (work / name).string()});
        run("/usr/bin/bsdtar", arguments, work / "src");
        return work / name;
    }

    // Unpacked by another program: Python reads zip names as UTF-8 only where the archive says so.
    Tree unpacked(const fs::path& archive)
    {
        const auto target = scratch / ("unpacked-" + archive.filename().string());
        python("import shutil; shutil.unpack_archive('" + archive.string() + "', '" + target.string() + "')");
        return tree(target);
    }

    TempDir work;
    TempDir scratch;
    fs::path tmp;
};

TEST_F(ArchiveEngineTest, ArchivesAreNamedAfterTheirItemsHoldAllOfThemLiterallyAndNeverOverwrite)
{
    const std::vector<fs::path> items
        = {file("um/a.txt", "a de um"), file("dois/b.txt", "b de dois"), file("um/-d.txt", "traço"),
            file("um/foto[1].jpg", "colchete"), file("um/a*b.txt", "estrela"), work / "um/pasta"};
    for (const auto& decoy : {"um/b.txt", "um/foto1.jpg", "um/axb.txt", "um/pasta/.DS_Store"})
        file(decoy, "não");
    file("um/pasta/ção.txt", "c");
    fs::create_directory(work / "um/a.txt 2.tar");  // free names skip folders as well as files
    for (const auto& [format, ext, second] : {std::tuple<OutputFormat, std::string, std::string>{zip, ".zip", " 2"},
             {tar, ".tar", " 3"}, {tgz, ".tar.gz", " 2"}}) {
        SCOPED_TRACE(format.ext);
        const auto bytes = readFile(ArchiveEngine::create({items[0]}, format));
        EXPECT_EQ(ArchiveEngine::create({items[0]}, format), work / ("um/a.txt" + second + ext));
        EXPECT_EQ(readFile(work / ("um/a.txt" + ext)), bytes);
        EXPECT_EQ(thrown(ArchiveEngine::create, std::vector{items[0], work / "sumiu.txt"}, format).kind(),
            ConversionError::Kind::unreadable);
        EXPECT_FALSE(fs::exists(work / ("um/Arquivos (2)" + ext)));
        // A folder, also written with a trailing slash, is its own top-level entry.
        const auto folder = ArchiveEngine::create({work.path().string() + "/um/pasta/"}, format);
        EXPECT_EQ(folder, work / ("um/pasta" + ext));
        EXPECT_EQ(unpacked(folder), (Tree{{"pasta", "/"}, {"pasta/ção.txt", "c"}}));
        const auto several = ArchiveEngine::create(items, format);
        EXPECT_EQ(several, work / ("um/Arquivos (6)" + ext));
        EXPECT_EQ(unpacked(several),
            (Tree{{"a.txt", "a de um"}, {"b.txt", "b de dois"}, {"-d.txt", "traço"}, {"foto[1].jpg", "colchete"},
                {"a*b.txt", "estrela"}, {"pasta", "/"}, {"pasta/ção.txt", "c"}}));
    }
}

TEST_F(ArchiveEngineTest, UnpackingGivesTheEntryOrAFolderAndRepackingKeepsTheEntries)
{
    for (const auto& [name, text] : Tree{{"a.txt", "alfa"}, {"b.txt", "beta"}, {"fotos/x.jpg", "xis"}})
        file("src" / fs::path(name), text);
    for (const std::string kind : {"zip", "tar", "tar.gz", "tar.bz2", "tar.xz", "7z"}) {
        const auto one = make({"a.txt"}, "um." + kind);
        EXPECT_EQ(ArchiveEngine::extract(one), work / "a.txt") << kind;
        EXPECT_EQ(ArchiveEngine::extract(one), work / "a 2.txt");
        EXPECT_EQ(ArchiveEngine::extract(make({"fotos"}, "fotos." + kind)), work / "fotos");
        EXPECT_EQ(tree(work / "fotos"), (Tree{{"x.jpg", "xis"}}));
        const auto many = make({"a.txt", "b.txt"}, "Dados." + std::string(kind == "tar.gz" ? "TGZ" : kind));
        EXPECT_EQ(ArchiveEngine::extract(many), work / "Dados");
        EXPECT_EQ(tree(work / "Dados"), (Tree{{"a.txt", "alfa"}, {"b.txt", "beta"}}));
        for (const auto& made : {"a.txt", "a 2.txt", "fotos", "Dados"})
            fs::remove_all(work / made);
    }
    // The Finder's files do not count as entries.
    file("src/.DS_Store", "junk");
    file("src/__MACOSX/._a.txt", "fork");
    EXPECT_EQ(ArchiveEngine::extract(make({"a.txt", ".DS_Store", "__MACOSX"}, "mac.zip")), work / "a.txt");

    const Tree expected = {{"a.txt", "alfa"}, {"fotos", "/"}, {"fotos/x.jpg", "xis"}};
    const auto zipped = ArchiveEngine::repack(make({"a.txt", "fotos"}, "Pacote.TGZ"), zip);
    EXPECT_EQ(zipped, work / "Pacote.zip");
    EXPECT_EQ(unpacked(zipped), expected);
    EXPECT_EQ(unpacked(ArchiveEngine::repack(zipped, tgz)), expected);
    EXPECT_EQ(unpacked(ArchiveEngine::repack(make({"a.txt", "fotos"}, "sete.7z"), tar)), expected);

    // An empty archive cannot be repacked and extracts to an empty folder.
    const auto empty = file("vazio.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(thrown(ArchiveEngine::repack, empty, tgz).kind(), ConversionError::Kind::unreadable);
    EXPECT_TRUE(fs::is_empty(ArchiveEngine::extract(empty)));
}

TEST_F(ArchiveEngineTest, UnpackedFilesBelongToTheUserAndNothingReachesOutside)
{
    python(R"(
import io, tarfile
entries = [("p", "DIRTYPE", dict(mode=0o3777)), ("p/null", "CHRTYPE", dict(devmajor=1, devminor=3)),
           ("p/fila", "FIFOTYPE", {}), ("p/suid", "REGTYPE", dict(mode=0o6755)),
           ("p/alheio", "REGTYPE", dict(uid=1234, gid=1234)), ("p/fora", "SYMTYPE", dict(linkname="/etc/passwd")),
           ("p/sobe", "SYMTYPE", dict(linkname="../../etc")), ("p/para-fila", "SYMTYPE", dict(linkname="fila")),
           ("p/dentro", "SYMTYPE", dict(linkname="suid"))]
with tarfile.open("perigo.tar", "w") as archive:
    for name, kind, fields in entries:
        info, data = tarfile.TarInfo(name), name[-1].encode() * (kind == "REGTYPE")
        info.type, info.size = getattr(tarfile, kind), len(data)
        [setattr(info, key, value) for key, value in fields.items()]
        archive.addfile(info, io.BytesIO(data))
)");
    const auto out = ArchiveEngine::extract(work / "perigo.tar");
    EXPECT_EQ(tree(out), (Tree{{"suid", "d"}, {"alheio", "o"}, {"dentro", "->suid"}}));
    for (const auto& path : {out, out / "suid", out / "alheio", out / "dentro"}) {
        struct stat info = {};
        EXPECT_TRUE(::lstat(path.c_str(), &info) == 0 && info.st_uid == ::geteuid() && !(info.st_mode & 07000)) << path;
    }
}

TEST_F(ArchiveEngineTest, ArchiveBombsStopBeforeTheDiskFillsAndLeaveNothing)
{
    // Each holds 1 GiB of zeros in about a megabyte; the engine is told it may use 8 MiB.
    python(R"(
import bz2, gzip, io, lzma, tarfile
mb, info = bytes(1 << 20), tarfile.TarInfo("zeros.bin")
info.size = 1 << 30
open("bomba.tar.gz", "wb").write(gzip.compress(info.tobuf()) + gzip.compress(mb) * 1024)
for ext, pack in (("gz", gzip.compress), ("bz2", bz2.compress), ("xz", lzma.compress)):
    open("zeros." + ext, "wb").write(pack(mb) * 1024)
with tarfile.open("dados.tar", "w") as archive:
    info.size = 4 << 20; archive.addfile(info, io.BytesIO(bytes(info.size)))
)");
    const auto before = tree(work.path()).size();
    long long here = 8LL << 20, elsewhere = 8LL << 20;
    ArchiveEngine::setRoomProbe([&](const fs::path& folder) {
        return folder == work.path() ? here : elsewhere;
    });
    for (const auto& name : {"bomba.tar.gz", "zeros.gz", "zeros.bz2", "zeros.xz"})
        EXPECT_TRUE(noRoom(ArchiveEngine::extract, work / name)) << name;
    EXPECT_TRUE(noRoom(ArchiveEngine::repack, work / "bomba.tar.gz", zip));
    EXPECT_EQ(tree(work.path()).size(), before);

    // Repacked, the unpacked size counts where it is unpacked; beside the source lands only the
    // new archive, a few kilobytes of zeros.
    python(R"(
import io, tarfile
with tarfile.open("zeros.tgz", "w:gz") as archive:
    info = tarfile.TarInfo("zeros.bin"); info.size = 3 << 20; archive.addfile(info, io.BytesIO(bytes(info.size)))
)");
    here = 1300LL << 10;
    elsewhere = 1LL << 40;
    EXPECT_EQ(ArchiveEngine::repack(work / "zeros.tgz", zip), work / "zeros.zip");
    fs::remove(work / "zeros.tgz"), fs::remove(work / "zeros.zip");
    here = elsewhere = 8LL << 20;

    // Unpacked in a temporary folder on another file system, the copy needs its room at the destination.
    struct stat shm = {}, ours = {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(work.path().c_str(), &ours) != 0 || shm.st_dev == ours.st_dev)
        return;
    char pattern[] = "/dev/shm/brivlon-case-XXXXXX";
    useTempFolder(mkdtemp(pattern));
    here = 3LL << 20, elsewhere = 1LL << 40;
    EXPECT_TRUE(noRoom(ArchiveEngine::extract, work / "dados.tar"));
    EXPECT_EQ(tree(work.path()).size(), before);
}

TEST_F(ArchiveEngineTest, SingleFilesDecompressToTheirBaseNameAndOnlyWhenWhole)
{
    python(R"(
import bz2, gzip, lzma, random
data = random.Random(7).randbytes(3 << 20)  # more than one read of the xz stream, barely compressible
open("original", "wb").write(data)
for ext, pack in (("gz", gzip.compress), ("bz2", bz2.compress), ("xz", lzma.compress)):
    whole = pack(data)
    open("log.txt." + ext, "wb").write(whole)
    open("cortado." + ext, "wb").write(whole[: len(whole) // 2])
)");
    for (const std::string ext : {"gz", "bz2", "xz"}) {
        EXPECT_EQ(ArchiveEngine::extract(work / ("log.txt." + ext)), work / "log.txt");
        EXPECT_EQ(ArchiveEngine::extract(work / ("log.txt." + ext)), work / "log.txt 2");
        EXPECT_TRUE(readFile(work / "log.txt 2") == readFile(work / "original")) << ext;
        fs::remove(work / "log.txt"), fs::remove(work / "log.txt 2");
        thrown(ArchiveEngine::extract, work / ("cortado." + ext));
    }
    // Only regular files are read: not a pipe (kept open so nothing blocks), not an endless device.
    ASSERT_EQ(::mkfifo((work / "fila.bz2").c_str(), 0600), 0);
    const int writer = ::open((work / "fila.bz2").c_str(), O_RDWR);
    const std::string junk(40000, 'x');  // more than bzip2 waits for before it looks
    ASSERT_EQ(::write(writer, junk.data(), junk.size()), ssize_t(junk.size()));
    fs::create_symlink("/dev/zero", work / "zero.gz");
    for (const auto& name : {"fila.bz2", "zero.gz"})
        EXPECT_EQ(thrown(ArchiveEngine::extract, work / name).kind(), ConversionError::Kind::unreadable);
    ::close(writer);
    EXPECT_EQ(tree(work.path()).size(), 9u);  // only the inputs
}
