// Our XLSX packages must open in a real spreadsheet application with the same cells. The
// check converts a package we wrote to CSV with a headless LibreOffice and compares the cells.

#include "documents/delimited.h"
#include "documents/xlsx.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace TestSupport;
using Rows = std::vector<SpreadsheetEngine::Row>;

TEST(XlsxInOfficeSuite, OpensOurPackageWithTheSameCells)
{
    const std::string office = "/usr/bin/soffice";
    if (::access(office.c_str(), X_OK) != 0)
        GTEST_SKIP() << "no LibreOffice installed";
    TempDir dir;
    const Rows rows = {
        {"Nome", "Idade", "Obs"},
        {"Ana", "30", "  espaço & <tag> \"aspas\""},
        {"Bia", "-0.5", "vírgula, e\nquebra"},
        {"007", "", "1e5"},
        {"controle\x01sumiu", "12.25", "emoji \xF0\x9F\x98\x80"},
    };
    const std::string emoji = "\xF0\x9F\x98\x80";
    SpreadsheetEngine::writeXLSX(
        {{"Dados", rows}, {"Outra\x0B" + std::string(28, 'x') + emoji, {{"b"}}}, {"Terceira & <última>", {{"c"}}}},
        dir / "tabela.xlsx");

    auto result = runProgram(office,
        {"-env:UserInstallation=file://" + (dir / "perfil").string(), "--headless", "--norestore", "--nologo",
            "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false", "--outdir",
            (dir / "saida").string(), (dir / "tabela.xlsx").string()},
        240, {{"HOME", dir.path().string()}, {"LC_ALL", "C.UTF-8"}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto csv = dir / "saida" / "tabela.csv";
    ASSERT_TRUE(fs::exists(csv)) << result.out << result.err;

    auto text = readFile(csv);
    if (text.starts_with("\xEF\xBB\xBF"))
        text.erase(0, 3);
    Rows expected = rows;
    expected[4] = {"controlesumiu", "12.25", "emoji \xF0\x9F\x98\x80"};
    EXPECT_EQ(SpreadsheetEngine::parseDelimited(text, ','), expected);
}
