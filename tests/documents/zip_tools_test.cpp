#include "core/conversion_error.h"
#include "documents/zip_tools.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;

TEST(ZipTools, PackedContentReadsBackEntryByEntry)
{
    TempDir dir;
    writeFile(dir / "pacote/[Content_Types].xml", "<Types/>");
    writeFile(dir / "pacote/xl/workbook.xml", "<workbook/>");
    writeFile(dir / "pacote/vazio.xml", "");
    const auto package = dir / "livro.xlsx";
    ZipTools::packContents(package, dir / "pacote");

    EXPECT_EQ(ZipTools::readEntry(package, "[Content_Types].xml"), "<Types/>");
    EXPECT_EQ(ZipTools::readEntry(package, "xl/workbook.xml"), "<workbook/>");
    // A pattern must not stand in for the entry it resembles.
    EXPECT_EQ(ZipTools::readEntry(package, "xl/*.xml"), std::nullopt);
    EXPECT_EQ(ZipTools::readEntry(package, "vazio.xml"), std::nullopt);
    EXPECT_EQ(ZipTools::readEntry(package, "ausente.xml"), std::nullopt);
    EXPECT_EQ(ZipTools::readEntry(dir / "nenhum.xlsx", "xl/workbook.xml"), std::nullopt);
}

TEST(ZipTools, UnpackReplacesExistingFiles)
{
    TempDir dir;
    writeFile(dir / "pacote/word/document.xml", "<novo/>");
    const auto package = dir / "doc.docx";
    ZipTools::packContents(package, dir / "pacote");
    writeFile(dir / "alvo/word/document.xml", "<velho/>");
    ZipTools::unpack(package, dir / "alvo");
    EXPECT_EQ(readFile(dir / "alvo/word/document.xml"), "<novo/>");
}

TEST(ZipTools, AMissingNameFailsWithTheToolsMessage)
{
    TempDir dir;
    try {
        ZipTools::packNames(dir / "a.zip", dir.path(), {"nada.txt"});
        FAIL() << "packing a missing name succeeded";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::ffmpeg);
        EXPECT_FALSE(error.message().empty());
    }
}
