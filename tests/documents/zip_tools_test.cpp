#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "documents/zip_tools.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>

using namespace TestSupport;

TEST(ZipTools, EntriesAreReadByTheirExactNameAndUnpackingReplaces)
{
    TempDir dir;
    writeFile(dir / "pacote/[Content_Types].xml", "<Types/>");
    writeFile(dir / "pacote/xl/workbook.xml", "<workbook/>");
    writeFile(dir / "pacote/vazio.xml", "");
    const auto package = dir / "livro.xlsx";
    ZipTools::packContents(package, dir / "pacote");
    EXPECT_EQ(ZipTools::readEntry(package, "[Content_Types].xml"), "<Types/>");
    // A pattern never stands in for the entry it resembles; empty and missing entries are nothing.
    for (const auto& entry : {"xl/*.xml", "vazio.xml", "ausente.xml"})
        EXPECT_EQ(ZipTools::readEntry(package, entry), std::nullopt) << entry;
    writeFile(dir / "alvo/xl/workbook.xml", "<velho/>");
    ZipTools::unpack(package, dir / "alvo");
    EXPECT_EQ(readFile(dir / "alvo/xl/workbook.xml"), "<workbook/>");
}

TEST(ZipTools, AMissingNameFailsTheWholeRun)
{
    TempDir dir;
    writeFile(dir / "a.txt", "a");
    EXPECT_THROW(ZipTools::packNames(dir / "a.zip", dir.path(), {"a.txt", "nada.txt"}), ConversionError);
}

TEST(ZipTools, PackagesThatUnpackPastAnyDocumentAreRefusedBeforeAndWhileUnpacking)
{
    // Three parts of 100 MB of blanks: each within the bound, together past it. And one part whose
    // directory says 1,000 bytes and whose data unpacks to 300 MB.
    TempDir dir;
    const auto made = runProgram("/usr/bin/python3", {"-c", R"(
import struct, zipfile
with zipfile.ZipFile("tres.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a.xml", "<a/>")
    for n in range(3):
        z.writestr("p%d.xml" % n, b" " * (100 << 20))
with zipfile.ZipFile("mentira.zip", "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("p.xml", "w") as f:
        for _ in range(300):
            f.write(b" " * (1 << 20))
data = bytearray(open("mentira.zip", "rb").read())
at = data.rfind(b"PK\x01\x02")
data[at + 24 : at + 28] = struct.pack("<I", 1000)
open("mentira.zip", "wb").write(data)
)"},
        60, {}, dir.path().string());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const auto tooLarge = [](const std::function<void()>& read) {
        try {
            read();
        } catch (const ConversionError& error) {
            return std::string(error.what()) == ErrorCauses::archiveTooLarge;
        }
        return false;
    };
    // Reading one entry takes only its own bytes: the others' sizes do not count.
    EXPECT_EQ(ZipTools::readEntry(dir / "tres.zip", "a.xml"), "<a/>");
    EXPECT_TRUE(tooLarge([&] { ZipTools::unpack(dir / "tres.zip", dir / "tres"); }));
    EXPECT_FALSE(fs::exists(dir / "tres"));
    EXPECT_TRUE(tooLarge([&] { ZipTools::readEntry(dir / "mentira.zip", "p.xml"); }));
    EXPECT_TRUE(tooLarge([&] { ZipTools::unpack(dir / "mentira.zip", dir / "mentira"); }));
    EXPECT_LE(fs::file_size(dir / "mentira/p.xml"), ZipTools::unpackedLimit);
}
