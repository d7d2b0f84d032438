#include "core/base/app_paths.h"
#include "core/base/error_log.h"
#include "core/base/job_notes.h"
#include "documents/archive_engine.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
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

// RAR 5 archives written byte by byte (no RAR writer is free software): stored entries, or entries
// marked encrypted whose data is noise, or headers encrypted as a whole.
const char* rar5Writer = R"(
import os, struct, zlib
def vint(n):
    out = bytearray()
    while True:
        b, n = n & 0x7f, n >> 7
        out.append(b | (0x80 if n else 0))
        if not n: return bytes(out)
def header(kind, body, extra=b"", data=b"", more=0):
    fields = vint(kind) + vint((1 if extra else 0) | (2 if data else 0) | more)
    fields += (vint(len(extra)) if extra else b"") + (vint(len(data)) if data else b"") + body + extra
    block = vint(len(fields)) + fields
    return struct.pack("<I", zlib.crc32(block)) + block + data
def rar5(files, crypt=False):
    out = b"Rar!\x1a\x07\x01\x00" + header(1, vint(0))
    for name, content in files:
        extra, data, method = b"", content, 0
        if crypt:
            record = vint(1) + vint(0) + vint(1) + bytes([15]) + os.urandom(44)
            extra, data, method = vint(len(record)) + record, os.urandom(64), 3 << 7
        body = vint(4) + vint(len(content)) + vint(0o100644) + struct.pack("<I", zlib.crc32(content))
        out += header(2, body + vint(method) + vint(1) + vint(len(name)) + name.encode(), extra, data)
    return out + header(5, vint(0))
)";

// Zips written byte by byte, for what no zip writer makes: entries that share data, methods no
// unpacker knows, encryption with a chosen header. `entries` are central()'s arguments.
const char* zipWriter = R"(
import struct, zlib
def local(name, crc, packed, size, method=8, flags=0):
    return struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, flags, method, 0, 0, crc, packed, size, len(name), 0) + name
def central(name, crc, packed, size, at, method=8, flags=0):
    return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, flags, method, 0, 0, crc, packed, size,
                       len(name), 0, 0, 0, 0, 0, at) + name
def write(path, body, entries):
    directory = b"".join(central(*entry) for entry in entries)
    end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, len(entries), len(entries), len(directory), len(body), 0)
    open(path, "wb").write(body + directory + end)
)";

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

    // An archive of one file that comes out beside it by extraction, and alone in a repacking.
    void unpacksToOne(const std::string& name, const std::string& entry, const std::string& text,
        const OutputFormat& format = tar)
    {
        const auto out = ArchiveEngine::extract(work / name);
        EXPECT_EQ(out, work / entry);
        EXPECT_EQ(readFile(out), text);
        fs::remove(out);
        EXPECT_EQ(unpacked(ArchiveEngine::repack(work / name, format)), (Tree{{entry, text}}));
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
    EXPECT_STREQ(thrown(ArchiveEngine::repack, empty, tgz).what(), "O arquivo compactado está vazio.");
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

TEST_F(ArchiveEngineTest, FailuresNameTheirCauseFromTheArchiveItself)
{
    python(std::string(rar5Writer) + zipWriter + R"(
import io, random, tarfile, zipfile, zlib
open("notas.rar", "wb").write(rar5([("notas.txt", b"uma nota\n"), ("b.txt", b"b\n")]))
open("senha.rar", "wb").write(rar5([("segredo.txt", b"x" * 1000)], crypt=True))
head = header(4, vint(0) + vint(1) + bytes([15]) + os.urandom(28))
open("nomes.rar", "wb").write(b"Rar!\x1a\x07\x01\x00" + head + os.urandom(200))
whole = rar5([("longo.txt", b"linha\n" * 200)])
open("cortado.rar", "wb").write(whole[: len(whole) // 2])
open("vazio.rar", "wb").write(rar5([]))
zipfile.ZipFile("vazio.zip", "w").close()
tarfile.open("vazio.tar", "w").close()
tarfile.open("vazio.tar.gz", "w:gz").close()

# A zip encrypted with a password whose check byte the unpacker's wrong passphrase happens to pass
# (one zip in 256), so that the unpacker goes on and decrypts noise.
def keys(password):
    k = [0x12345678, 0x23456789, 0x34567890]
    def update(c):
        k[0] = zlib.crc32(bytes([c]), k[0] ^ 0xffffffff) ^ 0xffffffff
        k[1] = ((k[1] + (k[0] & 0xff)) * 134775813 + 1) & 0xffffffff
        k[2] = zlib.crc32(bytes([k[1] >> 24]), k[2] ^ 0xffffffff) ^ 0xffffffff
    for c in password: update(c)
    def byte():
        t = (k[2] | 2) & 0xffff
        return ((t * (t ^ 1)) >> 8) & 0xff
    return update, byte
def crypt(password, plain, decrypt=False):
    update, byte = keys(password)
    out = bytearray()
    for c in plain:
        x = c ^ byte(); out.append(x); update(x if decrypt else c)
    return bytes(out)
text = b"conta 1234\n" * 50
crc, rng = zlib.crc32(text), random.Random(3)
while True:
    head = bytes(rng.randrange(256) for _ in range(11)) + bytes([crc >> 24])
    sealed = crypt(b"certa", head + text)
    if crypt(b"brivlon", sealed[:12], decrypt=True)[11] == crc >> 24: break
name = b"conta.txt"
write("azar.zip", local(name, crc, len(sealed), len(text), 0, 1) + sealed, [(name, crc, len(sealed), len(text), 0, 0, 1)])
)");
    EXPECT_EQ(ArchiveEngine::extract(work / "notas.rar"), work / "notas");
    EXPECT_EQ(tree(work / "notas"), (Tree{{"notas.txt", "uma nota\n"}, {"b.txt", "b\n"}}));
    for (const auto& [name, sentence] :
        std::map<std::string, std::string>{{"senha.rar", "O arquivo está protegido por senha."},
            {"nomes.rar", "O arquivo está protegido por senha."}, {"azar.zip", "O arquivo está protegido por senha."},
            {"cortado.rar", "O arquivo está danificado ou incompleto."}}) {
        EXPECT_STREQ(thrown(ArchiveEngine::extract, work / name).what(), sentence.c_str()) << name;
        EXPECT_STREQ(thrown(ArchiveEngine::repack, work / name, zip).what(), sentence.c_str()) << name;
    }
    // An archive with nothing in it is read well: it extracts to an empty folder and says so when
    // there is nothing to pack again.
    for (const auto& name : {"vazio.rar", "vazio.zip", "vazio.tar", "vazio.tar.gz"}) {
        EXPECT_STREQ(thrown(ArchiveEngine::repack, work / name, zip).what(), "O arquivo compactado está vazio.")
            << name;
        const auto folder = ArchiveEngine::extract(work / name);
        EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder)) << name;
    }
}

TEST_F(ArchiveEngineTest, FlatBombsAreRefusedAndNoUnpackWritesFarMoreThanItsArchiveHolds)
{
    // The overlapping construction: every entry's deflate data starts with a stored block that
    // quotes the next entry's local header, so each entry unpacks to all the ones after it and the
    // one kernel of zeros at the end; 40 entries of 8 MiB each from 8 KiB. A second zip has all
    // its entries point at one local header.
    python(std::string(zipWriter) + R"(
def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()
kernel_plain = bytes(8 << 20)
kernel = deflate(kernel_plain)
names = [b"parte%02d.bin" % i for i in range(40)]
headers, entries, suffix, quoted = [None] * 40, [None] * 40, b"", b""
for i in reversed(range(40)):
    entries[i] = [names[i], zlib.crc32(suffix + kernel_plain), len(quoted) + len(kernel), len(suffix) + len(kernel_plain)]
    headers[i] = local(*entries[i])
    suffix = headers[i] + suffix
    quoted = struct.pack("<BHH", 0, len(headers[i]), len(headers[i]) ^ 0xffff) + headers[i] + quoted
at = 0
for i in range(40):
    entries[i].append(at)
    at += len(headers[i]) + 5
write("plana.zip", quoted[5:] + kernel, entries)
one = local(b"a.bin", zlib.crc32(kernel_plain), len(kernel), len(kernel_plain))
write("mesma.zip", one + kernel,
      [(b"a%02d.bin" % i, zlib.crc32(kernel_plain), len(kernel), len(kernel_plain), 0) for i in range(40)])
import lzma
open("zeros.img.xz", "wb").write(lzma.compress(bytes(64 << 20)))
)");
    const auto before = tree(work.path()).size();
    ArchiveEngine::setRoomProbe([](const fs::path&) {
        return 1LL << 40;
    });
    ArchiveEngine::setOutputFloor(1 << 20);
    const std::string tooLarge = "O arquivo compactado é grande demais para abrir.";
    for (const auto& name : {"plana.zip", "mesma.zip", "zeros.img.xz"})
        EXPECT_EQ(thrown(ArchiveEngine::extract, work / name).what(), tooLarge) << name;
    for (const auto& name : {"plana.zip", "mesma.zip"})
        EXPECT_EQ(thrown(ArchiveEngine::repack, work / name, tgz).what(), tooLarge) << name;
    EXPECT_EQ(tree(work.path()).size(), before);
    // Under the floor a file of zeros still unpacks, whatever its ratio.
    ArchiveEngine::setOutputFloor(80 << 20);
    EXPECT_EQ(fs::file_size(ArchiveEngine::extract(work / "zeros.img.xz")), 64u << 20);
    ArchiveEngine::setOutputFloor(0);
}

// A set of RAR volumes holds its entries across parts: read from the first part with the rest
// beside it, whichever part is given, or refused, naming what is missing, from any part when one
// is absent. A window out
// of all proportion to what the archive holds (4 GiB for a few kilobytes) unpacks within bounds.
TEST_F(ArchiveEngineTest, RarVolumesAreReadWholeFromTheFirstPartOrRefusedForTheMissingOne)
{
    python(std::string(rar5Writer) + R"(
text = b"linha do relatorio\n" * 300
chunks = [text[:2000], text[2000:4000], text[4000:]]
for i, chunk in enumerate(chunks):
    first, last = i == 0, i == len(chunks) - 1
    main = header(1, vint(1) if first else vint(3) + vint(i))
    body = vint(4) + vint(len(text)) + vint(0o100644) + struct.pack("<I", zlib.crc32(text if last else chunk))
    body += vint(0) + vint(1) + vint(13) + b"relatorio.txt"
    more = (0 if first else 0x08) | (0 if last else 0x10)
    open("caixa.part%d.rar" % (i + 1), "wb").write(b"Rar!\x1a\x07\x01\x00" + main
        + header(2, body, b"", chunk, more) + header(5, vint(0 if last else 1)))
body = vint(4) + vint(len(text)) + vint(0o100644) + struct.pack("<I", zlib.crc32(text)) + vint(15 << 10) + vint(1)
open("janela.rar", "wb").write(b"Rar!\x1a\x07\x01\x00" + header(1, vint(0))
    + header(2, body + vint(9) + b"texto.txt", b"", text) + header(5, vint(0)))

def crc16(b): return zlib.crc32(b) & 0xffff
def block(kind, flags, body):
    head = struct.pack("<BHH", kind, flags, 7 + len(body)) + body
    return struct.pack("<H", crc16(head)) + head
def rar4(name, chunk, before, after):
    main = block(0x73, 0x0001 | (0 if before else 0x0100), bytes(6))
    body = struct.pack("<IIBIIBBHI", len(chunk), len(text), 3, zlib.crc32(chunk), 0x5a2c6b00, 20, 0x30, 13,
                       0o100644) + b"relatorio.txt"
    head = struct.pack("<BHH", 0x74, 0x8000 | before | (after << 1), 7 + len(body)) + body
    open(name, "wb").write(b"Rar!\x1a\x07\x00" + main + struct.pack("<H", crc16(head)) + head + chunk
        + block(0x7b, after, b""))
rar4("antigo.rar", chunks[0], 0, 1)
rar4("meio.r05", chunks[1], 1, 1)
)");
    const std::string text = [] {
        std::string lines;
        for (int i = 0; i < 300; ++i)
            lines += "linha do relatorio\n";
        return lines;
    }();
    EXPECT_EQ(readFile(ArchiveEngine::extract(work / "caixa.part1.rar")), text);
    EXPECT_EQ(unpacked(ArchiveEngine::repack(work / "caixa.part1.rar", zip)), (Tree{{"relatorio.txt", text}}));
    const std::string missing = "Falta uma parte do arquivo compactado dividido em volumes; deixe todas as partes na "
                                "mesma pasta e abra a primeira.";
    // A later part stands for its set while the first part lies beside it; all the parts given
    // at once make one output and no complaint about the parts after the first.
    fs::remove(work / "relatorio.txt"), fs::remove(work / "caixa.part1.zip");
    EXPECT_EQ(readFile(ArchiveEngine::extract(work / "caixa.part3.rar")), text);
    fs::remove(work / "relatorio.txt");
    const auto all = runProgram(BRIVLON_BINARY,
        {"--convert", "extrair", "caixa.part1.rar", "caixa.part2.rar", "caixa.part3.rar"}, 120, {}, work.path());
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.out, (work / "relatorio.txt\n").string());
    EXPECT_EQ(readFile(work / "relatorio.txt"), text);
    fs::remove(work / "relatorio.txt");
    // Any part without the last, or with its next part under the old names nowhere.
    const auto before = tree(work.path()).size();
    fs::remove(work / "caixa.part3.rar");
    for (const auto& name : {"caixa.part1.rar", "caixa.part2.rar", "antigo.rar", "meio.r05"}) {
        EXPECT_EQ(thrown(ArchiveEngine::extract, work / name).what(), missing) << name;
        EXPECT_EQ(thrown(ArchiveEngine::repack, work / name, tgz).what(), missing) << name;
    }
    EXPECT_EQ(tree(work.path()).size(), before - 1);

    EXPECT_EQ(readFile(ArchiveEngine::extract(work / "janela.rar")), text);
}

TEST_F(ArchiveEngineTest, FiltersLibarchiveLacksAndSingleCompressedFilesStillUnpackAndRepack)
{
    // A program and a text, as a release of a tool for another processor would hold them, packed
    // with 7-Zip's filters for ARM64 and RISC-V code and with Deflate64; a zip whose method no
    // unpacker knows (97, WavPack).
    file("src/ferramenta", std::string(40000, '\x1f') + "fim");
    file("src/leia-me.txt", "Instruções\n");
    const auto sevenZip = [&](const std::string& name, const std::string& option, const std::string& type = "-t7z") {
        run("/usr/bin/7z", {"a", "-bso0", type, option, (work / name).string(), "ferramenta", "leia-me.txt"},
            work / "src");
        return work / name;
    };
    const Tree expected = {{"ferramenta", std::string(40000, '\x1f') + "fim"}, {"leia-me.txt", "Instruções\n"}};
    for (const auto& archive : {sevenZip("arm64.7z", "-mf=ARM64"), sevenZip("riscv.7z", "-mf=RISCV"),
             sevenZip("d64.7z", "-m0=Deflate64"), sevenZip("deflate64.zip", "-mm=Deflate64", "-tzip")}) {
        const auto folder = ArchiveEngine::extract(archive);
        EXPECT_EQ(folder, work / archive.stem()) << archive;
        EXPECT_EQ(tree(folder), expected) << archive;
        EXPECT_EQ(unpacked(ArchiveEngine::repack(archive, tar)), expected) << archive;
    }
    python(std::string(zipWriter) + R"(
data, name = b"amostra", b"som.wv"
write("wavpack.zip", local(name, zlib.crc32(data), 7, 7, 97) + data, [(name, zlib.crc32(data), 7, 7, 0, 97)])
)");
    EXPECT_STREQ(thrown(ArchiveEngine::extract, work / "wavpack.zip").what(),
        "O arquivo usa um formato interno que não é suportado.");

    // A single compressed file repacks as the one file it holds.
    python("import gzip, bz2\n"
           "open('diario.log.gz', 'wb').write(gzip.compress(b'linha\\n' * 1000))\n"
           "open('diario.txt.bz2', 'wb').write(bz2.compress(b'outra\\n'))\n");
    std::string lines;
    for (int i = 0; i < 1000; ++i)
        lines += "linha\n";
    for (const auto& format : {zip, tar, tgz})
        EXPECT_EQ(unpacked(ArchiveEngine::repack(work / "diario.log.gz", format)), (Tree{{"diario.log", lines}}))
            << format.ext;
    EXPECT_EQ(unpacked(ArchiveEngine::repack(work / "diario.txt.bz2", zip)), (Tree{{"diario.txt", "outra\n"}}));
}

// Headers libarchive refuses and its peers read: a RAR 2 archive whose main header holds the
// archive's comment (its checksum covers the fixed fields only), pax records with empty values,
// a RAR 5 compressed with a 256 MiB dictionary (WinRAR's -md256m; its data here is coded as
// literals, so that a few lines write it).
TEST_F(ArchiveEngineTest, ArchivesWithHeadersLibarchiveRefusesAreReadAsTheirPeersReadThem)
{
    python(std::string(rar5Writer) + R"(
class Bits:
    def __init__(self): self.out, self.acc, self.n = bytearray(), 0, 0
    def put(self, value, width):
        self.acc, self.n = (self.acc << width) | value, self.n + width
        while self.n >= 8:
            self.n -= 8; self.out.append((self.acc >> self.n) & 0xff)
        self.acc &= (1 << self.n) - 1
def literals(data):
    # One last block with its tables: the bit-length code gives 0, 8, 18 and 19 two bits each; the
    # 256 literals are 8 bits long (so each codes as itself), the other 174 symbols absent.
    bits = Bits()
    for symbol in range(20): bits.put(2 if symbol in (0, 8, 18, 19) else 0, 4)
    for _ in range(256): bits.put(1, 2)
    bits.put(3, 2); bits.put(138 - 11, 7); bits.put(3, 2); bits.put(36 - 11, 7)
    for byte in data: bits.put(byte, 8)
    last = bits.n or 8
    if bits.n: bits.out.append((bits.acc << (8 - bits.n)) & 0xff)
    size = len(bits.out).to_bytes(3, "little")
    flags = (last - 1) | (2 << 3) | 0x40 | 0x80
    return bytes([flags, 0x5a ^ flags ^ size[0] ^ size[1] ^ size[2]]) + size + bits.out
text = b"Relat\xc3\xb3rio anual\n" * 4000
packed, method = literals(text), (1 << 7) | (11 << 10)
body = vint(4) + vint(len(text)) + vint(0o100644) + struct.pack("<I", zlib.crc32(text)) + vint(method) + vint(1)
open("dicionario.rar", "wb").write(b"Rar!\x1a\x07\x01\x00" + header(1, vint(0))
    + header(2, body + vint(len(b"relatorio.txt")) + b"relatorio.txt", b"", packed) + header(5, vint(0)))

import io, struct, tarfile, zlib
def crc16(b): return zlib.crc32(b) & 0xffff
def block(kind, flags, body, extra=b""):
    head = struct.pack("<BHH", kind, flags, 7 + len(body) + len(extra)) + body
    return struct.pack("<H", crc16(head)) + head + extra
def comment(text):
    head = struct.pack("<BHHHBBH", 0x75, 0, 15 + len(text), len(text), 20, 0x30, crc16(text))
    return struct.pack("<H", crc16(head)) + head + text
def stored(name, content):
    body = struct.pack("<IIBIIBBHI", len(content), len(content), 3, zlib.crc32(content), 0x5a2c6b00, 20, 0x30,
                       len(name), 0o100644) + name
    head = struct.pack("<BHH", 0x74, 0x8000, 7 + len(body)) + body
    return struct.pack("<H", crc16(head)) + head + content
open("comentado.rar", "wb").write(b"Rar!\x1a\x07\x00" + block(0x73, 0x02, bytes(6), comment(b"Fotos da viagem"))
    + stored(b"a.txt", b"alfa\n") + stored(b"b.txt", b"beta\n") + block(0x7b, 0x4000, b""))
with tarfile.open("pax.tar", "w", format=tarfile.PAX_FORMAT) as archive:
    for name, records in (("a.txt", {"GNU.sparse.major": "", "GNU.sparse.minor": ""}), ("b.txt", {"SUN.holesdata": ""})):
        info, data = tarfile.TarInfo(name), (b"alfa\n" if name == "a.txt" else b"beta\n")
        info.size, info.pax_headers = len(data), records
        archive.addfile(info, io.BytesIO(data))
)");
    const Tree expected = {{"a.txt", "alfa\n"}, {"b.txt", "beta\n"}};
    for (const auto& name : {"comentado.rar", "pax.tar"}) {
        SCOPED_TRACE(name);
        const auto folder = ArchiveEngine::extract(work / name);
        EXPECT_EQ(folder, work / fs::path(name).stem());
        EXPECT_EQ(tree(folder), expected);
        EXPECT_EQ(unpacked(ArchiveEngine::repack(work / name, zip)), expected);
        fs::remove_all(folder);
    }
    std::string report;
    for (int i = 0; i < 4000; ++i)
        report += "Relatório anual\n";
    EXPECT_EQ(readFile(ArchiveEngine::extract(work / "dicionario.rar")), report);
    EXPECT_EQ(unpacked(ArchiveEngine::repack(work / "dicionario.rar", tar)), (Tree{{"relatorio.txt", report}}));
}

// An archive whose every entry is skipped says so, by extraction and by repacking alike, and
// names each entry in the error log; nothing is left behind.
TEST_F(ArchiveEngineTest, AnArchiveOfOnlySkippedEntriesSaysNothingWasExtractedAndNamesThem)
{
    python(std::string(zipWriter) + R"(
import io, tarfile
with tarfile.open("atalho.tar", "w") as archive:
    info = tarfile.TarInfo("senhas"); info.type, info.linkname = tarfile.SYMTYPE, "/etc/passwd"
    archive.addfile(info)
data = b"fora"
write("sobe.zip", local(b"../fora.txt", zlib.crc32(data), 4, 4, 0) + data, [(b"../fora.txt", zlib.crc32(data), 4, 4, 0, 0)])
)");
    const auto names = [&] {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(work.path()))
            found.insert(entry.path().filename().string());
        return found;
    };
    const auto before = names();
    for (const auto& [name, entry] :
        std::map<std::string, std::string>{{"atalho.tar", "senhas -> /etc/passwd"}, {"sobe.zip", "fora.txt"}}) {
        SCOPED_TRACE(name);
        fs::remove_all(AppPaths::stateDir());
        EXPECT_STREQ(thrown(ArchiveEngine::extract, work / name).what(),
            "Nenhuma entrada do arquivo compactado pôde ser extraída.");
        EXPECT_STREQ(thrown(ArchiveEngine::repack, work / name, tar).what(),
            "Nenhuma entrada do arquivo compactado pôde ser extraída.");
        const auto log = ErrorLog::recent(10);
        EXPECT_NE(log.find("Entrada ignorada em " + name + ": "), std::string::npos) << log;
        EXPECT_NE(log.find(entry), std::string::npos) << log;
        EXPECT_EQ(names(), before);
    }
}

struct SaidNotes final : JobNotes {
    std::vector<std::string> said;
    void note(const fs::path&, const std::string& sentence) override { said.push_back(sentence); }
};

// Entries left out, whatever holds them: those a safe unpack never writes (a climb out of the
// folder, a link out of it, a device) are one sentence for every container, and a name longer
// than the file system takes is named with that cause, also a Windows path in a 7z; the rest
// comes out, by extraction and by repacking alike.
TEST_F(ArchiveEngineTest, EntriesLeftOutAreSaidWithTheirCauseWhateverTheContainerAndTheRestComesOut)
{
    python(R"(
import io, tarfile, zipfile
for mode, name in [("w", "mistura.tar"), ("w:gz", "mistura.tar.gz")]:
    with tarfile.open(name, mode) as t:
        for n in ["bom.txt", "../fora.txt"]:
            i = tarfile.TarInfo(n); i.size = 3; t.addfile(i, io.BytesIO(b"bom"))
        i = tarfile.TarInfo("elo"); i.type, i.linkname = tarfile.SYMTYPE, "/etc/passwd"; t.addfile(i)
        i = tarfile.TarInfo("disco"); i.type, i.devmajor, i.devminor = tarfile.CHRTYPE, 1, 3; t.addfile(i)
with zipfile.ZipFile("mistura.zip", "w") as z:
    z.writestr("bom.txt", "bom"); z.writestr("../fora.txt", "bom")
    i = zipfile.ZipInfo("elo"); i.create_system, i.external_attr = 3, 0o120777 << 16; z.writestr(i, "/etc/passwd")
    i = zipfile.ZipInfo("disco"); i.create_system, i.external_attr = 3, 0o020644 << 16; z.writestr(i, "")
longo = "a" * 280 + ".txt"
with zipfile.ZipFile("longo.zip", "w") as z:
    z.writestr(longo, "longo"); z.writestr("bom.txt", "bom")
with tarfile.open("longo.tar", "w") as t:
    for n, d in [(longo, b"longo"), ("bom.txt", b"bom")]:
        i = tarfile.TarInfo(n); i.size = len(d); t.addfile(i, io.BytesIO(d))
)");
    const std::string longName(280, 'a'), windowsPath = "pasta\\" + longName + ".txt";
    writeFile(work / "src/bom.txt", "bom");
    writeFile(work / "src/longo.txt", "longo");
    run("/usr/bin/7z", {"a", "-bso0", (work / "longo.7z").string(), "bom.txt", "longo.txt"}, work / "src");
    run("/usr/bin/7z", {"rn", "-bso0", (work / "longo.7z").string(), "longo.txt", windowsPath});
    const std::string unsafe
        = "3 entradas do arquivo compactado foram ignoradas por segurança: “../fora.txt”, “disco”, “elo”.";
    const auto tooLong = [](const std::string& name) {
        return "Uma entrada do arquivo compactado não foi extraída porque o nome é longo demais para o sistema de "
               "arquivos: “"
            + name + "”.";
    };
    const std::vector<std::pair<std::string, std::string>> cases = {{"mistura.tar", unsafe},
        {"mistura.tar.gz", unsafe}, {"mistura.zip", unsafe}, {"longo.zip", tooLong(longName + ".txt")},
        {"longo.tar", tooLong(longName + ".txt")}, {"longo.7z", tooLong(windowsPath)}};
    const auto notes = std::make_shared<SaidNotes>();
    Installed<JobNotes> installed(notes);
    for (const auto& [name, sentence] : cases) {
        SCOPED_TRACE(name);
        unpacksToOne(name, "bom.txt", "bom");
        EXPECT_EQ(notes->said, (std::vector{sentence, sentence}));
        notes->said.clear();
    }
}

// Zips as Windows archivers and a pipe write them: a name in bytes no code page reads, with its
// Unicode Path field only in the directory or beside a UTF-8 flag the bytes belie, comes out by
// that field's name; an entry whose mode says pipe is its data, written as a file, and one with
// no data is left out and said. By extraction and by repacking alike.
TEST_F(ArchiveEngineTest, ZipEntriesComeOutByTheirUnicodeNameAndPipesWithDataAsFiles)
{
    python(std::string(zipWriter) + R"(
name = "七个房间.txt".encode()
data = b"conteudo"
def unicode(raw):
    return struct.pack("<HHBI", 0x7075, 5 + len(name), 1, zlib.crc32(raw)) + name
def central_with(entry, extra, flags):
    raw = entry[0]
    head = central(*entry, method=0, flags=flags)[:-len(raw)]
    return head[:30] + struct.pack("<H", len(extra)) + head[32:] + raw + extra
for path, raw, flags in [("controle.zip", bytes([1, 2, 3, 4]), 0), ("bandeira.zip", bytes([0x81, 0x82, 0x83, 0x84]), 0x800)]:
    entry = (raw, zlib.crc32(data), len(data), len(data), 0)
    body = local(raw, zlib.crc32(data), len(data), len(data), 0, flags) + data
    directory = central_with(entry, unicode(raw), flags)
    end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 1, 1, len(directory), len(body), 0)
    open(path, "wb").write(body + directory + end)
import zipfile
with zipfile.ZipFile("cano.zip", "w") as z:
    i = zipfile.ZipInfo("cano"); i.create_system, i.external_attr = 3, 0o010644 << 16; z.writestr(i, "")
    z.writestr("ok.txt", "ok")
)");
    run("/bin/sh", {"-c", "printf 'quatorze bytes' | /usr/bin/zip -q tubo.zip -"}, work.path());
    const auto notes = std::make_shared<SaidNotes>();
    Installed<JobNotes> installed(notes);
    for (const auto& name : {"controle.zip", "bandeira.zip"}) {
        SCOPED_TRACE(name);
        unpacksToOne(name, "七个房间.txt", "conteudo", tgz);
    }
    unpacksToOne("tubo.zip", "-", "quatorze bytes");
    EXPECT_TRUE(notes->said.empty());
    unpacksToOne("cano.zip", "ok.txt", "ok");
    const std::string left = "Uma entrada do arquivo compactado foi ignorada por segurança: “cano”.";
    EXPECT_EQ(notes->said, (std::vector{left, left}));
}

// Names: "café.txt" with a composed é and with e and a combining accent are two files here, and
// both come out and go into the new archive; so do names with a line feed or a leading dash.
// Tens of thousands of entries (more names than a command line holds) repack as well.
TEST_F(ArchiveEngineTest, EveryNameComesOutAndGoesBackInHoweverWrittenAndHoweverMany)
{
    python(R"(
import unicodedata, zipfile
with zipfile.ZipFile("gemeos.zip", "w") as archive:
    archive.writestr(unicodedata.normalize("NFC", "café.txt"), "composto")
    archive.writestr(unicodedata.normalize("NFD", "café.txt"), "decomposto")
    archive.writestr("linha\nnova.txt", "quebra")
    archive.writestr("-v.txt", "traço")
with zipfile.ZipFile("muitos.zip", "w") as archive:
    for i in range(30000):
        archive.writestr("foto de uma viagem muito longa pelo interior do estado, dia %05d, câmera do celular.txt" % i, "")
)");
    const Tree expected = {{"café.txt", "composto"}, {"cafe\xcc\x81.txt", "decomposto"},
        {"linha\nnova.txt", "quebra"}, {"-v.txt", "traço"}};
    EXPECT_EQ(tree(ArchiveEngine::extract(work / "gemeos.zip")), expected);
    for (const auto& format : {tar, tgz, zip})
        EXPECT_EQ(unpacked(ArchiveEngine::repack(work / "gemeos.zip", format)), expected) << format.ext;

    const auto many = ArchiveEngine::repack(work / "muitos.zip", tar);
    EXPECT_EQ(tree(many.parent_path()).count(many.filename().string()), 1u);
    const auto listed = runProgram("/usr/bin/tar", {"-tf", many.string()}, 120);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 30000);
}
