#include "documents/delimited.h"
#include "documents/spreadsheet_engine.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;
using SpreadsheetEngine::Row;
using Rows = std::vector<Row>;

namespace {

OutputFormat format(const std::string& ext)
{
    std::string label = ext;
    for (auto& c : label)
        c = char(std::toupper(c));
    return {ext, label, false};
}

}

TEST(DelimiterDetection, CountsTheFirstLineOnly)
{
    const std::vector<std::pair<std::string, char>> cases = {
        {"a;b;c\n1,5;2,5;3,5\n", ';'},
        {"a;b;c\r\n1,5,2,5,3,5,4,5\r\n", ';'},
        {"a;b\r1,2,3,4,5", ';'},
        {"a,b;c", ','},
        {"a;b,c", ','},
        {"a\tb;c\td", '\t'},
        {";\t", ';'},
        {"abc\n,,,", ','},
        {"", ','},
        {"x;y\tz\t", '\t'},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(SpreadsheetEngine::detectDelimiter(text), expected);
    }
}

TEST(DelimitedParsing, QuotesLineEndsAndEmptyCells)
{
    const std::vector<std::tuple<std::string, char, Rows>> cases = {
        {"", ',', {}},
        {"a,b\n", ',', {{"a", "b"}}},
        {"a,b\r\nc,d\r\n", ',', {{"a", "b"}, {"c", "d"}}},
        {"a\rb\r\n\rc", ',', {{"a"}, {"b"}, {""}, {"c"}}},
        {"a\n\nb", ',', {{"a"}, {""}, {"b"}}},
        {"a,", ',', {{"a", ""}}},
        {",", ',', {{"", ""}}},
        {" a , b ", ',', {{" a ", " b "}}},
        {"\"x,y\",z", ',', {{"x,y", "z"}}},
        {"\"ele disse \"\"oi\"\"\"", ',', {{"ele disse \"oi\""}}},
        {"\"linha1\r\nlinha2\",fim\n", ',', {{"linha1\r\nlinha2", "fim"}}},
        {"\"\",x", ',', {{"", "x"}}},
        {"\"ab\"cd,e", ',', {{"abcd", "e"}}},
        {"ab\"c\"d", ',', {{"ab\"c\"d"}}},
        {"\"aberto,\nresto\n", ',', {{"aberto,\nresto\n"}}},
        {"\"fim\"", ',', {{"fim"}}},
        {"a;\"b;c\";d", ';', {{"a", "b;c", "d"}}},
        {"a,b\tc", '\t', {{"a,b", "c"}}},
    };
    for (const auto& [text, delimiter, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(SpreadsheetEngine::parseDelimited(text, delimiter), expected);
    }
}

TEST(DelimitedWriting, QuotesOnlyWhereNeeded)
{
    TempDir dir;
    const Rows rows = {{"a", ",", "diz \"oi\"", ""}, {"duas\nlinhas", "cr\r", "\t", " x "}, {}};
    SpreadsheetEngine::writeDelimited(rows, ',', dir / "a.csv");
    EXPECT_EQ(readFile(dir / "a.csv"), "\xEF\xBB\xBF"
                                       "a,\",\",\"diz \"\"oi\"\"\",\r\n"
                                       "\"duas\nlinhas\",\"cr\r\",\t, x \r\n"
                                       "\r\n");
    SpreadsheetEngine::writeDelimited(rows, '\t', dir / "a.tsv");
    EXPECT_EQ(readFile(dir / "a.tsv"), "a\t,\t\"diz \"\"oi\"\"\"\t\r\n"
                                       "\"duas\nlinhas\"\t\"cr\r\"\t\"\t\"\t x \r\n"
                                       "\r\n");
    SpreadsheetEngine::writeDelimited({}, ';', dir / "vazio.txt");
    EXPECT_EQ(readFile(dir / "vazio.txt"), "\r\n");
    // Writing replaces what was there.
    SpreadsheetEngine::writeDelimited({{"novo"}}, '\t', dir / "a.tsv");
    EXPECT_EQ(readFile(dir / "a.tsv"), "novo\r\n");
}

TEST(DelimitedLoading, EncodingsMarksAndDelimiters)
{
    TempDir dir;
    const std::vector<std::tuple<std::string, std::string, Rows>> cases = {
        {"ponto.csv", "a;b;c\r\n1,5;2,5;3,5\r\n", {{"a", "b", "c"}, {"1,5", "2,5", "3,5"}}},
        {"marca.csv", "\xEF\xBB\xBF" "x,y\n1,\xEF\xBB\xBF" "2\n", {{"x", "y"}, {"1", "2"}}},
        {"latin.csv", "caf\xE9;p\xE3o\n", {{"café", "pão"}}},
        {"utf16.csv", std::string("\xFF\xFE" "a\0,\0\xE7\0\n\0", 10), {{"a", "ç"}}},
        {"tab.tsv", "a;b,c;d\te\n", {{"a;b,c;d", "e"}}},
        {"vazio.csv", "", {}},
    };
    for (const auto& [name, bytes, expected] : cases) {
        SCOPED_TRACE(name);
        writeFile(dir / name, bytes);
        auto workbook = SpreadsheetEngine::load(dir / name);
        ASSERT_EQ(workbook.size(), 1u);
        EXPECT_EQ(workbook[0].name, "Planilha1");
        EXPECT_EQ(workbook[0].rows, expected);
    }
}

TEST(DelimitedConvert, CsvAndTsvOutputs)
{
    TempDir dir;
    writeFile(dir / "dados.csv", "nome;obs\n\"Ana\";\"diz \"\"oi\"\"; tchau\"\nBia;\n");
    auto csv = SpreadsheetEngine::convert(dir / "dados.csv", format("csv"));
    EXPECT_EQ(csv, dir / "dados 2.csv");
    EXPECT_EQ(readFile(csv), "\xEF\xBB\xBFnome,obs\r\nAna,\"diz \"\"oi\"\"; tchau\"\r\nBia,\r\n");
    auto tsv = SpreadsheetEngine::convert(dir / "dados.csv", format("tsv"));
    EXPECT_EQ(tsv, dir / "dados.tsv");
    EXPECT_EQ(readFile(tsv), "nome\tobs\r\nAna\t\"diz \"\"oi\"\"; tchau\"\r\nBia\t\r\n");

    writeFile(dir / "vazio.csv", "");
    EXPECT_EQ(readFile(SpreadsheetEngine::convert(dir / "vazio.csv", format("csv"))), "\xEF\xBB\xBF\r\n");
    EXPECT_EQ(readFile(SpreadsheetEngine::convert(dir / "vazio.csv", format("tsv"))), "\r\n");
}
