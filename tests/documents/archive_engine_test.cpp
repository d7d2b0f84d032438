#include "core/conversion_error.h"
#include "documents/archive_engine.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/stat.h>

using namespace TestSupport;

namespace {

const OutputFormat zip{"zip", "ZIP", false};
const OutputFormat tar{"tar", "TAR", false};
const OutputFormat tgz{"tgz", "TAR.GZ", false};

void run(const std::string& program, const std::vector<std::string>& arguments, const fs::path& cwd = {})
{
    auto result = runProgram(program, arguments, 120, {}, cwd.string());
    ASSERT_EQ(result.exitCode, 0) << program << ": " << result.err;
}

// Entry names of an archive, without "./" prefixes and trailing slashes.
std::set<std::string> listing(const fs::path& archive)
{
    auto result = runProgram("/usr/bin/bsdtar", {"-tf", archive.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::set<std::string> names;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("./"))
            line.erase(0, 2);
        while (line.ends_with('/'))
            line.pop_back();
        if (!line.empty() && line != ".")
            names.insert(line);
    }
    return names;
}

// A tree as relative path → content ("/" for a folder).
std::map<std::string, std::string> tree(const fs::path& root)
{
    std::map<std::string, std::string> entries;
    if (!fs::is_directory(root)) {
        entries[""] = readFile(root);
        return entries;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root))
        entries[fs::relative(entry.path(), root).string()] = entry.is_directory() ? "/" : readFile(entry.path());
    return entries;
}

std::map<std::string, std::string> unpacked(const fs::path& archive, const TempDir& scratch)
{
    auto target = scratch / ("unpacked-" + archive.filename().string());
    fs::create_directories(target);
    run("/usr/bin/bsdtar", {"-xf", archive.string(), "-C", target.string()});
    return tree(target);
}

std::string noise(size_t size)
{
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = char(random());
    return bytes;
}

int countTempFolders(const fs::path& folder)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.path().filename().string().starts_with("kalvimorf-");
    return count;
}

template <typename Call>
ConversionError failure(Call call)
{
    try {
        call();
    } catch (const ConversionError& error) {
        return error;
    }
    ADD_FAILURE() << "no ConversionError";
    return ConversionError::writeFailed();
}

}

class ArchiveEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (auto old = std::getenv("TMPDIR"))
            oldTmp = old;
        useTempFolder(scratch / "tmp");
    }

    void TearDown() override
    {
        EXPECT_EQ(countTempFolders(tmp), tempBefore) << "a temporary folder was left behind";
        for (const auto& entry : fs::recursive_directory_iterator(work.path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".kalvimorf-")) << entry.path();
        if (!ownTmp.empty())
            fs::remove_all(ownTmp);
        if (oldTmp)
            setenv("TMPDIR", oldTmp->c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    // A private temporary directory, so that other tests' folders never disturb the count.
    void useTempFolder(const fs::path& folder)
    {
        tmp = folder;
        fs::create_directories(tmp);
        setenv("TMPDIR", tmp.c_str(), 1);
        tempBefore = countTempFolders(tmp);
    }

    fs::path file(const std::string& name, const std::string& contents)
    {
        writeFile(work / name, contents);
        return work / name;
    }

    // Makes an archive of the named entries of `source` with a system tool.
    fs::path make(const std::string& kind, const fs::path& source, const std::vector<std::string>& names,
                  const std::string& archiveName)
    {
        const auto archive = work / archiveName;
        std::vector<std::string> arguments;
        std::string program = "/usr/bin/tar";
        if (kind == "zip") {
            program = "/usr/bin/zip";
            arguments = {"-r", "-q", archive.string()};
        } else if (kind == "7z") {
            program = "/usr/bin/7z";
            arguments = {"a", "-bd", archive.string()};
        } else {
            const std::map<std::string, std::string> flags = {
                {"tar", "-cf"}, {"tar.gz", "-czf"}, {"tar.bz2", "-cjf"}, {"tar.xz", "-cJf"}};
            arguments = {flags.at(kind), archive.string()};
        }
        arguments.insert(arguments.end(), names.begin(), names.end());
        run(program, arguments, source);
        return archive;
    }

    TempDir work;
    TempDir scratch;
    fs::path tmp;
    fs::path ownTmp;  // a temporary directory outside `scratch`, removed at the end
    int tempBefore = 0;
    std::optional<std::string> oldTmp;
};

TEST_F(ArchiveEngineTest, OneItemIsNamedAfterItsFullNameAndNeverOverwritten)
{
    for (const auto& [format, ext] : {std::pair{zip, ".zip"}, {tar, ".tar"}, {tgz, ".tar.gz"}}) {
        SCOPED_TRACE(format.ext);
        const auto item = file("relatorio.pdf", "%PDF-1.4 fake");
        const auto first = ArchiveEngine::create({item}, format);
        EXPECT_EQ(first, work / ("relatorio.pdf" + std::string(ext)));
        const auto bytes = readFile(first);
        const auto second = ArchiveEngine::create({item}, format);
        EXPECT_EQ(second, work / ("relatorio.pdf 2" + std::string(ext)));
        EXPECT_EQ(readFile(first), bytes);
        EXPECT_EQ(listing(second), std::set<std::string>{"relatorio.pdf"});
        EXPECT_EQ(unpacked(second, scratch).at("relatorio.pdf"), "%PDF-1.4 fake");
    }
}

TEST_F(ArchiveEngineTest, SeveralItemsGoToTheTopLevelWithoutFinderFiles)
{
    const auto a = file("a.txt", "a");
    const auto b = file("b.txt", "b");
    file("pasta/c.txt", "c");
    file("pasta/.DS_Store", "junk");
    const auto folder = work / "pasta";
    const std::set<std::string> expected = {"a.txt", "b.txt", "pasta", "pasta/c.txt"};
    for (const auto& [format, name] : {std::pair{zip, "Arquivos (3).zip"}, {tar, "Arquivos (3).tar"},
                                       {tgz, "Arquivos (3).tar.gz"}}) {
        SCOPED_TRACE(format.ext);
        const auto archive = ArchiveEngine::create({a, b, folder}, format);
        EXPECT_EQ(archive, work / name);
        EXPECT_EQ(listing(archive), expected);
    }
}

TEST_F(ArchiveEngineTest, AFolderIsItsOwnTopLevelEntry)
{
    file("Fotos/praia.jpg", "jpg");
    const auto archive = ArchiveEngine::create({work / "Fotos"}, tar);
    EXPECT_EQ(archive, work / "Fotos.tar");
    EXPECT_EQ(listing(archive), (std::set<std::string>{"Fotos", "Fotos/praia.jpg"}));
    // A trailing slash names the same folder.
    EXPECT_EQ(ArchiveEngine::create({work.path().string() + "/Fotos/"}, tgz), work / "Fotos.tar.gz");
}

TEST_F(ArchiveEngineTest, ItemsFromTwoFoldersArePackedEachFromItsOwnFolder)
{
    const auto a = file("um/a.txt", "a de um");
    file("um/b.txt", "b errado");
    const auto b = file("dois/b.txt", "b de dois");
    const auto c = file("dois/c.txt", "c de dois");
    const auto d = file("um/d.txt", "d de um");
    for (const auto& format : {zip, tgz}) {
        SCOPED_TRACE(format.ext);
        const auto archive = ArchiveEngine::create({a, b, c, d}, format);
        EXPECT_EQ(archive.parent_path(), work / "um");
        EXPECT_EQ(unpacked(archive, scratch), (std::map<std::string, std::string>{
                                                  {"a.txt", "a de um"},
                                                  {"b.txt", "b de dois"},
                                                  {"c.txt", "c de dois"},
                                                  {"d.txt", "d de um"}}));
    }
}

TEST_F(ArchiveEngineTest, NamesThatLookLikeOptionsOrPatternsArePackedLiterally)
{
    const auto dash = file("-d.txt", "traço");
    const auto bracket = file("foto[1].jpg", "colchete");
    file("foto1.jpg", "outro");
    const auto star = file("a*b.txt", "estrela");
    file("axb.txt", "outro");
    for (const auto& format : {zip, tar}) {
        SCOPED_TRACE(format.ext);
        const auto archive = ArchiveEngine::create({dash, bracket, star}, format);
        EXPECT_EQ(unpacked(archive, scratch), (std::map<std::string, std::string>{
                                                  {"-d.txt", "traço"},
                                                  {"foto[1].jpg", "colchete"},
                                                  {"a*b.txt", "estrela"}}));
    }
}

TEST_F(ArchiveEngineTest, AnUnpackableFormatFailsAndLeavesNothing)
{
    const auto item = file("a.txt", "a");
    EXPECT_EQ(failure([&] { ArchiveEngine::create({item}, {"rar", "RAR", false}); }).kind(),
              ConversionError::Kind::unsupported);
    EXPECT_EQ(tree(work.path()).size(), 1u);
}

TEST_F(ArchiveEngineTest, ExtractGivesTheEntryTheFolderOrAFolderOfEntries)
{
    file("src/a.txt", "alfa");
    file("src/b.txt", "beta");
    file("src/fotos/x.jpg", "xis");
    const std::map<std::string, std::string> fotos = {{"x.jpg", "xis"}};
    const std::map<std::string, std::string> several = {{"a.txt", "alfa"}, {"b.txt", "beta"}};
    for (const std::string kind : {"zip", "tar", "tar.gz", "tar.bz2", "tar.xz", "7z"}) {
        SCOPED_TRACE(kind);
        const auto one = make(kind, work / "src", {"a.txt"}, "um." + kind);
        const auto folder = make(kind, work / "src", {"fotos"}, "fotos." + kind);
        const auto many = make(kind, work / "src", {"a.txt", "b.txt"}, "dados." + kind);

        EXPECT_EQ(ArchiveEngine::extract(one), work / "a.txt");
        EXPECT_EQ(ArchiveEngine::extract(one), work / "a 2.txt");
        EXPECT_EQ(readFile(work / "a 2.txt"), "alfa");
        EXPECT_EQ(ArchiveEngine::extract(folder), work / "fotos");
        EXPECT_EQ(tree(work / "fotos"), fotos);
        EXPECT_EQ(ArchiveEngine::extract(many), work / "dados");
        EXPECT_EQ(tree(work / "dados"), several);
        for (const auto& made : {"a.txt", "a 2.txt", "fotos", "dados"})
            fs::remove_all(work / made);
    }
}

TEST_F(ArchiveEngineTest, FinderJunkDoesNotCountAsAnEntry)
{
    file("src/a.txt", "alfa");
    file("src/.DS_Store", "junk");
    file("src/__MACOSX/._a.txt", "fork");
    const auto archive = make("zip", work / "src", {"a.txt", ".DS_Store", "__MACOSX"}, "mac.zip");
    const auto out = ArchiveEngine::extract(archive);
    EXPECT_EQ(out, work / "a.txt");
    EXPECT_EQ(readFile(out), "alfa");
}

TEST_F(ArchiveEngineTest, ArchiveExtensionsAreTakenOffTheFolderName)
{
    file("src/a.txt", "a");
    file("src/b.txt", "b");
    for (const auto& [name, folder] : {std::pair{"Backup.TAR.GZ", "Backup"}, {"copia.tgz", "copia"}}) {
        make("tar.gz", work / "src", {"a.txt", "b.txt"}, name);
        EXPECT_EQ(ArchiveEngine::extract(work / name), work / folder);
    }
}

TEST_F(ArchiveEngineTest, SingleCompressedFilesDecompressToTheirBaseName)
{
    // Larger than one read of the xz stream, and barely compressible.
    const auto contents = noise(3 << 20);
    for (const auto& [ext, tool] : {std::pair{"gz", "/usr/bin/gzip"}, {"bz2", "/usr/bin/bzip2"},
                                    {"xz", "/usr/bin/xz"}}) {
        SCOPED_TRACE(ext);
        file("src/log.txt", contents);
        run(tool, {"-f", (work / "src/log.txt").string()});
        const auto compressed = work / (std::string("log.txt.") + ext);
        fs::rename(work / "src" / compressed.filename(), compressed);

        EXPECT_EQ(ArchiveEngine::extract(compressed), work / "log.txt");
        EXPECT_EQ(ArchiveEngine::extract(compressed), work / "log.txt 2");
        EXPECT_TRUE(readFile(work / "log.txt") == contents);
        EXPECT_TRUE(readFile(work / "log.txt 2") == contents);
        fs::remove(work / "log.txt");
        fs::remove(work / "log.txt 2");
    }
}

TEST_F(ArchiveEngineTest, CorruptCompressedFilesFailWithoutOutput)
{
    file("src/log.txt", noise(200000));
    run("/usr/bin/xz", {"-k", (work / "src/log.txt").string()});
    const auto whole = readFile(work / "src/log.txt.xz");
    file("cut/log.txt.xz", whole.substr(0, whole.size() / 2));
    file("junk/log.txt.xz", "não é xz");
    file("junk/log.txt.gz", "não é gzip");

    const auto gz = failure([&] { ArchiveEngine::extract(work / "junk/log.txt.gz"); });
    EXPECT_EQ(gz.kind(), ConversionError::Kind::ffmpeg);
    EXPECT_NE(std::string(gz.what()).find("not in gzip format"), std::string::npos) << gz.what();
    for (const auto& folder : {"cut", "junk"}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(failure([&] { ArchiveEngine::extract(work / folder / "log.txt.xz"); }).kind(),
                  ConversionError::Kind::unreadable);
        EXPECT_FALSE(fs::exists(work / folder / "log.txt"));
    }
}

TEST_F(ArchiveEngineTest, RepackKeepsTheEntriesUnderTheNewFormat)
{
    file("src/a.txt", "alfa");
    file("src/fotos/x.jpg", "xis");
    const std::map<std::string, std::string> expected = {{"a.txt", "alfa"}, {"fotos", "/"}, {"fotos/x.jpg", "xis"}};
    const auto tgzSource = make("tar.gz", work / "src", {"a.txt", "fotos"}, "Dados.TGZ");
    const auto sevenSource = make("7z", work / "src", {"a.txt", "fotos"}, "sete.7z");

    const auto zipped = ArchiveEngine::repack(tgzSource, zip);
    EXPECT_EQ(zipped, work / "Dados.zip");
    EXPECT_EQ(unpacked(zipped, scratch), expected);
    const auto back = ArchiveEngine::repack(zipped, tgz);
    EXPECT_EQ(back, work / "Dados.tar.gz");
    EXPECT_EQ(unpacked(back, scratch), expected);
    EXPECT_EQ(ArchiveEngine::repack(zipped, tgz), work / "Dados 2.tar.gz");
    const auto fromSeven = ArchiveEngine::repack(sevenSource, tar);
    EXPECT_EQ(fromSeven, work / "sete.tar");
    EXPECT_EQ(unpacked(fromSeven, scratch), expected);
}

TEST_F(ArchiveEngineTest, AnEmptyArchiveCannotBeRepackedAndExtractsToAnEmptyFolder)
{
    const auto empty = file("vazio.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    const auto error = failure([&] { ArchiveEngine::repack(empty, tgz); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::unreadable);
    EXPECT_STREQ(error.what(), "Não foi possível ler o arquivo.");
    EXPECT_FALSE(fs::exists(work / "vazio.tar.gz"));

    const auto out = ArchiveEngine::extract(empty);
    EXPECT_EQ(out, work / "vazio");
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(ArchiveEngineTest, AnUnreadableArchiveFailsWithTheToolsMessage)
{
    const auto bad = file("ruim.zip", std::string("PK\x03\x04", 4) + "corrompido");
    const auto error = failure([&] { ArchiveEngine::extract(bad); });
    EXPECT_EQ(error.kind(), ConversionError::Kind::ffmpeg);
    EXPECT_FALSE(error.message().empty());
    EXPECT_FALSE(fs::exists(work / "ruim"));
}

TEST_F(ArchiveEngineTest, FreeNamesSkipFilesAndFoldersAlike)
{
    const auto item = file("relatorio.pdf", "pdf");
    fs::create_directory(work / "relatorio.pdf.zip");
    file("relatorio.pdf 2.zip", "guardar");
    EXPECT_EQ(ArchiveEngine::create({item}, zip), work / "relatorio.pdf 3.zip");
    EXPECT_TRUE(fs::is_directory(work / "relatorio.pdf.zip"));
    EXPECT_EQ(readFile(work / "relatorio.pdf 2.zip"), "guardar");

    file("src/fotos/x.jpg", "xis");
    const auto archive = make("zip", work / "src", {"fotos"}, "fotos.zip");
    file("fotos", "um arquivo");
    EXPECT_EQ(ArchiveEngine::extract(archive), work / "fotos 2");
    EXPECT_EQ(readFile(work / "fotos"), "um arquivo");
}

TEST_F(ArchiveEngineTest, MovesBetweenFileSystemsKeepContentAndTimes)
{
    struct stat shm {}, here {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(work.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system for the temporary folder";
    char pattern[] = "/dev/shm/brivlon-case-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    ownTmp = pattern;
    useTempFolder(ownTmp);

    file("src/fotos/x.jpg", "xis");
    file("src/a.txt", "alfa");
    const auto then = fs::last_write_time(work / "src/a.txt") - std::chrono::hours(24 * 400);
    fs::last_write_time(work / "src/a.txt", then);
    const auto folder = make("tar.gz", work / "src", {"fotos"}, "fotos.tar.gz");
    const auto one = make("zip", work / "src", {"a.txt"}, "um.zip");
    const auto many = make("tar", work / "src", {"a.txt", "fotos"}, "dados.tar");

    EXPECT_EQ(tree(ArchiveEngine::extract(folder)), (std::map<std::string, std::string>{{"x.jpg", "xis"}}));
    const auto a = ArchiveEngine::extract(one);
    EXPECT_EQ(readFile(a), "alfa");
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(fs::last_write_time(a) - then).count(), 0);
    EXPECT_EQ(tree(ArchiveEngine::extract(many)).size(), 3u);
}
