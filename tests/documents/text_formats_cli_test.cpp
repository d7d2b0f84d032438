// Subtitles and spreadsheets through the command line's --convert, end to end.

#include "documents/xlsx.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;
using Rows = std::vector<SpreadsheetEngine::Row>;

TEST(TextFormatsCommandLine, SubtitlesBothWays)
{
    TempDir dir;
    writeFile(dir / "aula.srt", "1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Olá</i>\r\n\r\n");
    auto toVtt = runBrivlon({"--convert", "vtt", (dir / "aula.srt").string()});
    ASSERT_EQ(toVtt.exitCode, 0) << toVtt.err;
    EXPECT_EQ(toVtt.out, (dir / "aula.vtt").string() + "\n");
    EXPECT_EQ(readFile(dir / "aula.vtt"), "WEBVTT\n\n00:00:01.000 --> 00:00:02.500\n<i>Olá</i>\n");

    auto toSrt = runBrivlon({"--convert", "SRT", (dir / "aula.vtt").string()});
    ASSERT_EQ(toSrt.exitCode, 0) << toSrt.err;
    EXPECT_EQ(toSrt.out, (dir / "aula 2.srt").string() + "\n");
    EXPECT_EQ(readFile(dir / "aula 2.srt"), "1\n00:00:01,000 --> 00:00:02,500\n<i>Olá</i>\n");

    writeFile(dir / "vazia.srt", "sem legendas\n");
    auto failed = runBrivlon({"--convert", "txt", (dir / "vazia.srt").string()});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.ends_with("erro: Não foi possível ler o arquivo.\n")) << failed.err;
}

TEST(TextFormatsCommandLine, SpreadsheetsBothWays)
{
    TempDir dir;
    writeFile(dir / "notas.csv", "nome;nota\nAna;9,5\nBia;10\n");
    auto toXlsx = runBrivlon({"--convert", "xlsx", (dir / "notas.csv").string()});
    ASSERT_EQ(toXlsx.exitCode, 0) << toXlsx.err;
    EXPECT_EQ(toXlsx.out, (dir / "notas.xlsx").string() + "\n");
    auto workbook = SpreadsheetEngine::readXLSX(dir / "notas.xlsx");
    ASSERT_EQ(workbook.size(), 1u);
    EXPECT_EQ(workbook[0].rows, (Rows{{"nome", "nota"}, {"Ana", "9,5"}, {"Bia", "10"}}));

    auto toTsv = runBrivlon({"--convert", "tsv", (dir / "notas.xlsx").string()});
    ASSERT_EQ(toTsv.exitCode, 0) << toTsv.err;
    EXPECT_EQ(toTsv.out, (dir / "notas.tsv").string() + "\n");
    EXPECT_EQ(readFile(dir / "notas.tsv"), "nome\tnota\r\nAna\t9,5\r\nBia\t10\r\n");
}
