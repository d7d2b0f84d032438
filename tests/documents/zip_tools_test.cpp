#include "core/base/conversion_error.h"
#include "documents/zip_tools.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

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
