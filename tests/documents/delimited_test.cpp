#include "documents/delimited.h"
#include "documents/spreadsheet_engine.h"
#include "documents/xlsx.h"

#include "core/base/conversion_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace TestSupport;
using SpreadsheetEngine::Row;
using Rows = std::vector<Row>;

TEST(DelimitedText, DetectsTheDelimiterAndParsesQuotesLineEndsAndEmptyCells)
{
    const std::vector<std::pair<std::string, char>> delimiters = {
        {"a;b;c\r\n1,5,2,5,3,5,4,5\r\n", ';'},
        {"a;b\r1,2,3,4,5", ';'},
        {"a,b;c", ','},
        {"a\tb;c\td", '\t'},
        {"abc\n,,,", ','},
        {"", ','},
    };
    for (const auto& [text, expected] : delimiters)
        EXPECT_EQ(SpreadsheetEngine::detectDelimiter(text), expected) << text;

    const std::vector<std::tuple<std::string, char, Rows>> cases = {
        {"", ',', {}},
        {"a,b\r\nc,d\r\n", ',', {{"a", "b"}, {"c", "d"}}},
        {"a\rb\r\n\rc", ',', {{"a"}, {"b"}, {""}, {"c"}}},
        {",x,", ',', {{"", "x", ""}}},
        {" a , b ", ',', {{" a ", " b "}}},
        {"\"ele disse \"\"oi\"\"\",\"x,y\"", ',', {{"ele disse \"oi\"", "x,y"}}},
        {"\"linha1\r\nlinha2\",fim\n", ',', {{"linha1\r\nlinha2", "fim"}}},
        {"\"ab\"cd,e", ',', {{"abcd", "e"}}},
        {"ab\"c\"d", ',', {{"ab\"c\"d"}}},
        {"\"aberto,\nresto\n", ',', {{"aberto,\nresto\n"}}},
        {"a,b\tc", '\t', {{"a,b", "c"}}},
    };
    for (const auto& [text, delimiter, expected] : cases)
        EXPECT_EQ(SpreadsheetEngine::parseDelimited(text, delimiter), expected) << text;
}

TEST(DelimitedText, WritesQuotesOnlyWhereNeededAndNeverReplaces)
{
    TempDir dir;
    const Rows rows = {{"a", ",", "diz \"oi\"", ""}, {"duas\nlinhas", "cr\r", "\t", " x "}, {}};
    EXPECT_EQ(SpreadsheetEngine::delimitedText(rows, ','),
        "\xEF\xBB\xBF"
        "a,\",\",\"diz \"\"oi\"\"\",\r\n"
        "\"duas\nlinhas\",\"cr\r\",\t, x \r\n\r\n");
    EXPECT_EQ(SpreadsheetEngine::delimitedText(rows, '\t'),
        "a\t,\t\"diz \"\"oi\"\"\"\t\r\n"
        "\"duas\nlinhas\"\t\"cr\r\"\t\"\t\"\t x \r\n\r\n");
    EXPECT_EQ(SpreadsheetEngine::delimitedText({}, ';'), "\r\n");

    // A file that appeared at the chosen name after it was chosen stays as it is.
    writeFile(dir / "a.tsv", "do usuário");
    EXPECT_EQ(SpreadsheetEngine::writeDelimited({{"novo"}}, '\t', dir / "a.tsv"), dir / "a 2.tsv");
    writeFile(dir / "b.xlsx", "do usuário");
    EXPECT_EQ(SpreadsheetEngine::writeXLSX({{"A", {{"1"}}}}, dir / "b.xlsx"), dir / "b 2.xlsx");
    EXPECT_EQ(readFile(dir / "a.tsv") + readFile(dir / "b.xlsx"), "do usuáriodo usuário");
    EXPECT_EQ(readFile(dir / "a 2.tsv"), "novo\r\n");
}

TEST(DelimitedText, LoadsEncodingsAndMarks)
{
    TempDir dir;
    const std::vector<std::tuple<std::string, std::string, Rows>> cases = {
        {"marca.csv",
            "\xEF\xBB\xBF"
            "x,y\n1,\xEF\xBB\xBF"
            "2\n",
            {{"x", "y"}, {"1", "2"}}},
        {"latin.csv", "caf\xE9;p\xE3o\n", {{"café", "pão"}}},
        {"surrogate.csv", "a,\xED\xA0\x80\n", {{"a", "\xC3\xAD\xC2\xA0\xC2\x80"}}},
        {"utf16.csv",
            std::string("\xFF\xFE"
                        "a\0,\0\xE7\0\n\0",
                10),
            {{"a", "ç"}}},
        {"tab.tsv", "a;b,c;d\te\n", {{"a;b,c;d", "e"}}},
        {"vazio.csv", "", {}},
    };
    for (const auto& [name, bytes, expected] : cases) {
        writeFile(dir / name, bytes);
        auto workbook = SpreadsheetEngine::load(dir / name);
        ASSERT_EQ(workbook.size(), 1u);
        EXPECT_EQ(workbook[0].rows, expected) << name;
    }
    // Only regular files are read: a link to /dev/zero or a FIFO would never end.
    fs::create_symlink("/dev/null", dir / "nulo.csv");
    EXPECT_THROW(SpreadsheetEngine::load(dir / "nulo.csv"), ConversionError);
}

TEST(DelimitedText, ConvertsBetweenCsvAndTsv)
{
    TempDir dir;
    writeFile(dir / "dados.csv", "nome;obs\n\"Ana\";\"diz \"\"oi\"\"; tchau\"\nBia;\n");
    auto csv = SpreadsheetEngine::convert(dir / "dados.csv", {"csv", "CSV", false});
    EXPECT_EQ(csv, dir / "dados 2.csv");
    EXPECT_EQ(readFile(csv), "\xEF\xBB\xBFnome,obs\r\nAna,\"diz \"\"oi\"\"; tchau\"\r\nBia,\r\n");
    writeFile(dir / "vazio.csv", "");
    EXPECT_EQ(readFile(SpreadsheetEngine::convert(dir / "vazio.csv", {"tsv", "TSV", false})), "\r\n");
}

// A spreadsheet set to Portuguese runs its own names of the functions that reach outside the
// sheet, typed in any case and with the language's letters; they are written as text as the
// English ones are, and what counts only within the sheet, or was typed as a value, stays.
TEST(DelimitedText, PortugueseNamesOfFunctionsReachingOutsideAreWrittenAsText)
{
    const auto written = [](const std::string& cell) {
        return SpreadsheetEngine::delimitedText({{cell}}, '\t');
    };
    for (const std::string cell : {"=HIPERLINK(\"http://x\";\"a\")", "=hiperligação(\"http://x\")", "=SERVIÇOWEB(A1)",
             "= serviçoweb(A1)", "+FiltrarXML(A1;\"//a\")", "=FILTROXML(A1;B1)", "@IMAGEM(\"http://x/a.png\")",
             "=SOMA(INDIRETO(A1))", "=Indirecto(B2)", "=CHAMAR(\"kernel32\";\"WinExec\";\"JCJ\";\"calc\";0)",
             "=REGISTRO.ID(\"a\";\"b\")", "=registar.id(\"a\";\"b\")"})
        EXPECT_EQ(written(cell), written("'" + cell)) << cell;
    for (const std::string cell : {"-1.234,50", "=SOMA(A1:A3)", "=SE(A1>0;\"sim\";\"não\")", "=MÉDIA(A1:A9)",
             "=AÇÃOIMAGEM(A1)", "-R$ 10,00"})
        EXPECT_EQ(written(cell).find('\''), std::string::npos) << cell;
}
