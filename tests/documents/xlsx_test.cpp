#include "documents/spreadsheet_engine.h"
#include "documents/xlsx.h"

#include "core/base/conversion_error.h"
#include "core/base/commands.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>

using namespace TestSupport;
using SpreadsheetEngine::Row;
using SpreadsheetEngine::Workbook;
using Rows = std::vector<Row>;

namespace {

const std::string mainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string bothNs
    = "xmlns=\"" + mainNs + "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

// A package made of exactly these parts.
fs::path package(const TempDir& dir, const std::string& name, const std::map<std::string, std::string>& parts)
{
    const auto folder = dir / (name + ".parts");
    for (const auto& [path, body] : parts)
        writeFile(folder / path, body);
    Commands::run("/usr/bin/zip", {"-X", "-r", "-q", (dir / name).string(), "."}, {.cwd = folder});
    return dir / name;
}

std::string sheetPart(const std::string& rows)
{
    return "<worksheet xmlns=\"" + mainNs + "\"><sheetData>" + rows + "</sheetData></worksheet>";
}

const std::string oneSheet = "<workbook " + bothNs + "><sheets><sheet name=\"A\"/></sheets></workbook>";

}

TEST(XlsxWriter, CellsComeBackAsWritten)
{
    // Row i holds case i in column A; numbers are number cells, everything else text.
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0", true},
        {"-0.5", true},
        {"123456789012345", true},
        {"007", false},
        {"1e5", false},
        {"+3", false},
        {"1.", false},
        {"1234567890123456", false},
        {"12 ", false},
    };
    Rows rows;
    for (const auto& [text, _] : cases)
        rows.push_back({text});
    const std::string forbidden = std::string("\x00\x01\x0B\x1F", 4) + "\xEF\xBF\xBF\xED\xA0\x80\xFF\xC0\xAF";
    rows.push_back({"  a & <b> \"c\" ", "", "a" + forbidden + "b\t\n\r!", "ok\xF0\x9F\x98\x80"});
    rows.push_back({});
    rows.push_back(Row());
    rows.back().put(702, "longe");
    // Sheet names are cut at 31 UTF-16 units, never inside a pair.
    const std::string emoji = "\xF0\x9F\x98\x80";
    const std::vector<std::pair<std::string, std::string>> names = {
        {"Aba" + forbidden + "1", "Aba1"},
        {std::string(40, 'a'), std::string(31, 'a')},
        {std::string(29, 'c') + emoji, std::string(29, 'c') + emoji},
        {std::string(30, 'd') + emoji, std::string(30, 'd')},
    };
    Workbook sheets;
    for (const auto& [name, _] : names)
        sheets.push_back({name, rows});
    TempDir dir;
    const auto path = SpreadsheetEngine::writeXLSX(sheets, dir / "a.xlsx");
    const auto part = Commands::run("/usr/bin/unzip", {"-p", path.string(), "xl/worksheets/sheet1.xml"});
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto number = "<c r=\"A" + std::to_string(i + 1) + "\"><v>";
        EXPECT_EQ(part.find(number) != std::string::npos, cases[i].second) << cases[i].first;
    }
    EXPECT_NE(part.find("<c r=\"AAA" + std::to_string(rows.size()) + "\""), std::string::npos);

    auto workbook = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(workbook.size(), names.size());
    rows[cases.size()] = {"  a & <b> \"c\" ", "", "ab\t\n\n!", "ok" + emoji};
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(workbook[i].name, names[i].second);
        EXPECT_EQ(workbook[i].rows, rows);
    }
}

TEST(XlsxReader, SharedInlineBooleanCellsAndGaps)
{
    TempDir dir;
    auto path = package(dir, "lido.xlsx",
        {{"xl/workbook.xml",
             "<workbook " + bothNs
                 + "><sheets><sheet name=\"Um\" sheetId=\"1\" r:id=\"rId7\"/>"
                   "<sheet sheetId=\"2\" r:id=\"rId8\"/><sheet name=\"Falta\"/></sheets></workbook>"},
            {"xl/_rels/workbook.xml.rels",
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId7\" Target=\"worksheets/folha[1]*.xml\"/>"
                "<Relationship Id=\"rId8\" Target=\"/xl/worksheets/outra.xml\"/></Relationships>"},
            {"xl/sharedStrings.xml",
                "<sst xmlns=\"" + mainNs
                    + "\"><si><t>um</t></si>"
                      "<si><r><t>do</t></r><r><t xml:space=\"preserve\">is</t></r><rPh><t>X</t></rPh></si></sst>"},
            {"xl/worksheets/folha1x.xml", sheetPart("<row><c><v>engano</v></c></row>")},
            {"xl/worksheets/folha[1]*.xml",
                sheetPart(
                    "<row r=\"3\"><c r=\"C3\" t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c></row>"
                    "<row><c r=\"A4\" t=\"b\"><v>1</v></c><c r=\"B4\" t=\"b\"><v>0</v></c>"
                    "<c r=\"c4\" t=\"inlineStr\"><is><r><t>in</t></r><r><t><![CDATA[<line>]]></t></r></is></c></row>"
                    "<row r=\"5\"><c r=\"A5\" t=\"s\"><v>7</v></c><c r=\"B5\" t=\"s\"><v>-1</v></c>"
                    "<c r=\"D5\"><v>3.5</v></c><c r=\"E5\" t=\"str\"><f>A1</f><v>calc</v></c>"
                    "<c r=\"F5\" t=\"inlineStr\"/></row><row r=\"2\"><c r=\"A2\"><v>tarde</v></c></row>")},
            {"xl/worksheets/outra.xml",
                "<x:worksheet xmlns:x=\"" + mainNs
                    + "\"><x:sheetData><x:row r=\"1\"><x:c r=\"B1\" t=\"inlineStr\">"
                      "<x:is><x:t>pref</x:t></x:is></x:c></x:row></x:sheetData></x:worksheet>"}});
    auto workbook = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(workbook.size(), 2u);
    EXPECT_EQ(workbook[0].name, "Um");
    EXPECT_EQ(workbook[0].rows,
        (Rows{{}, {}, {"", "", "um", "doisX"}, {"VERDADEIRO", "FALSO", "in<line>"}, {"", "", "", "3.5", "calc", ""},
            {"tarde"}}));
    EXPECT_EQ(workbook[1].name, "Planilha2");
    EXPECT_EQ(workbook[1].rows, (Rows{{"", "pref"}}));
}

TEST(XlsxReader, BrokenPartsFailAndCellsBeyondTheLimitsAreIgnored)
{
    TempDir dir;
    const std::map<std::string, std::string> cases[] = {
        {{"xl/worksheets/sheet1.xml", sheetPart("")}},
        {{"xl/workbook.xml", "<workbook><sheets>"}},
        {{"xl/workbook.xml", oneSheet}, {"xl/sharedStrings.xml", "<sst><si><t>a</t>"},
            {"xl/worksheets/sheet1.xml", sheetPart("")}},
        {{"xl/workbook.xml", "<workbook " + bothNs + "><sheets><sheet/><sheet/></sheets></workbook>"},
            {"xl/worksheets/sheet1.xml", sheetPart("")}, {"xl/worksheets/sheet2.xml", "<worksheet><sheetData><row>"}},
        {{"xl/workbook.xml", oneSheet}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto path = package(dir, std::to_string(i) + ".xlsx", cases[i]);
        EXPECT_THROW(SpreadsheetEngine::convert(path, {"csv", "CSV", false}), ConversionError) << i;
    }

    auto path = package(dir, "enorme.xlsx",
        {{"xl/workbook.xml", oneSheet},
            {"xl/worksheets/sheet1.xml",
                sheetPart(
                    "<row r=\"1\"><c r=\"XFE1\"><v>1</v></c><c r=\"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1\"><v>2</v></c>"
                    "<c r=\"A1\"><v>ok</v></c></row><row r=\"1048577\"><c><v>fora</v></c></row>"
                    "<row r=\"99999999999999999999999999\"><c><v>fora</v></c></row>"
                    "<row r=\"3\"><c r=\"XFD3\"><v>ultima</v></c><c><v>fora</v></c></row>")}});
    Row last;
    last.put(16383, "ultima");
    EXPECT_EQ(SpreadsheetEngine::readXLSX(path)[0].rows, (Rows{{"ok"}, {}, last}));
}

TEST(SpreadsheetConvert, FoldersOfSheetsAndTablesTooLargeForXlsx)
{
    TempDir dir;
    const auto source = dir / "Vendas.xlsx";
    SpreadsheetEngine::writeXLSX({{"Jan", {{"a", "1"}}}, {"Fev/Mar", {{"b\tc", "2"}}}, {"Fev-Mar", {}}}, source);
    auto folder = SpreadsheetEngine::convert(source, {"tsv", "TSV", false});
    EXPECT_EQ(folder, dir / "Vendas (TSV)");
    EXPECT_EQ(readFile(folder / "Jan.tsv"), "a\t1\r\n");
    EXPECT_EQ(readFile(folder / "Fev-Mar.tsv"), "\"b\tc\"\t2\r\n");
    EXPECT_EQ(readFile(folder / "Fev-Mar 2.tsv"), "\r\n");
    EXPECT_EQ(SpreadsheetEngine::convert(source, {"tsv", "TSV", false}), dir / "Vendas (TSV) 2");

    // Other programs would cut a table beyond the format's bounds.
    writeFile(dir / "largo.csv", std::string(16384, ',') + "\n");
    writeFile(dir / "longo.csv", std::string(1048577, '\n'));
    for (auto name : {"largo", "longo"})
        EXPECT_THROW(
            SpreadsheetEngine::convert(dir / (name + std::string(".csv")), {"xlsx", "XLSX", false}), ConversionError);
    EXPECT_FALSE(fs::exists(dir / "largo.xlsx") || fs::exists(dir / "longo.xlsx"));
}

TEST(SpreadsheetConvert, MemoryGrowsWithTheOutput)
{
    // One cell in the last column of 2,000 rows (a 32 MB CSV), and a million shared strings of
    // which one is used.
    TempDir dir;
    std::string farRows, strings;
    for (int r = 1; r <= 2000; ++r)
        farRows += "<row r=\"" + std::to_string(r) + "\"><c r=\"XFD" + std::to_string(r) + "\"><v>1</v></c></row>";
    for (int i = 0; i < 1000000; ++i)
        strings += "<si><t>" + std::to_string(i) + "</t></si>";
    package(dir, "largo.xlsx", {{"xl/workbook.xml", oneSheet}, {"xl/worksheets/sheet1.xml", sheetPart(farRows)}});
    package(dir, "textos.xlsx",
        {{"xl/workbook.xml", oneSheet}, {"xl/sharedStrings.xml", "<sst>" + strings + "</sst>"},
            {"xl/worksheets/sheet1.xml", sheetPart("<row><c t=\"s\"><v>999999</v></c></row>")}});
    for (auto name : {"largo.xlsx", "textos.xlsx"}) {
        const auto run = measureBrivlon({"--convert", "csv", (dir / name).string()});
        EXPECT_TRUE(run.exitCode == 0 && run.peakMiB > 0 && run.peakMiB < 200) << name << ": " << run.peakMiB << " MiB";
    }
    EXPECT_EQ(readFile(dir / "textos.csv"),
        "\xEF\xBB\xBF"
        "999999\r\n");

    // One shared string of 1 MiB named by 200,000 cells: 200 GB of text, refused as soon as
    // the cells read pass what a table may lay out, and never held more than once.
    std::string cells;
    for (int r = 1; r <= 2000; ++r)
        cells += "<row r=\"" + std::to_string(r) + "\">" + [] {
            std::string row;
            for (int c = 0; c < 100; ++c)
                row += "<c t=\"s\"><v>0</v></c>";
            return row;
        }() + "</row>";
    package(dir, "repetido.xlsx",
        {{"xl/workbook.xml", oneSheet},
            {"xl/sharedStrings.xml", "<sst><si><t>" + std::string(1 << 20, 'a') + "</t></si></sst>"},
            {"xl/worksheets/sheet1.xml", sheetPart(cells)}});
    const auto run = measureBrivlon({"--convert", "csv", (dir / "repetido.xlsx").string()});
    EXPECT_TRUE(run.exitCode == 1 && run.peakMiB > 0 && run.peakMiB < 200) << run.peakMiB << " MiB";
    EXPECT_EQ(runBrivlon({"--convert", "tsv", (dir / "repetido.xlsx").string()}).err,
        "erro: A tabela é grande demais para abrir.\n");
}

TEST(XlsxReader, PartsAreFoundWithoutRegardToCaseAndOnlyTheSheetsAreUnpacked)
{
    // Shared strings under another letter case than the name the reader knows, and a workbook
    // carrying a 300 MB picture (of blanks, so the package stays small): only the parts with
    // cells are unpacked, and the picture's size counts for nothing.
    TempDir dir;
    const auto made = runProgram("/usr/bin/python3", {"-c", R"(
import zipfile
ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
with zipfile.ZipFile("Contas.xlsx", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("xl/workbook.xml", '<workbook %s><sheets><sheet name="A"/></sheets></workbook>' % ns)
    z.writestr("xl/SharedStrings.xml", '<sst %s><si><t>Olá</t></si><si><t>mundo</t></si></sst>' % ns)
    z.writestr("XL/Worksheets/Sheet1.xml", '<worksheet %s><sheetData><row><c t="s"><v>1</v></c><c t="s"><v>0</v></c></row></sheetData></worksheet>' % ns)
    with z.open("xl/media/image1.png", "w") as f:
        for _ in range(300):
            f.write(b" " * (1 << 20))
)"},
        60, {}, dir.path().string());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const auto workbook = SpreadsheetEngine::readXLSX(dir / "Contas.xlsx");
    ASSERT_EQ(workbook.size(), 1u);
    EXPECT_EQ(workbook[0].rows, (Rows{{"mundo", "Olá"}}));
}

TEST(SpreadsheetConvert, BigSheetsAreReadAsTheyUnpackAndTextGoesRowByRow)
{
    // A sheet whose part unpacks to 300 MB (more than any part read whole may take), with a
    // million rows of numbers, back to TSV; then that TSV, two million lines, to CSV a row at a
    // time. Neither holds the text whole.
    TempDir dir;
    const auto made = runProgram("/usr/bin/python3", {"-c", R"(
import zipfile
ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
with zipfile.ZipFile("grande.xlsx", "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    z.writestr("xl/workbook.xml", '<workbook %s><sheets><sheet name="A"/></sheets></workbook>' % ns)
    with z.open("xl/worksheets/sheet1.xml", "w") as f:
        f.write(('<worksheet %s><sheetData>' % ns).encode())
        row = '<row><c><v>1</v></c><c><v>2.5</v></c></row>' + ' ' * 250
        for _ in range(1000):
            f.write((row * 1000).encode())
        f.write(b'</sheetData></worksheet>')
with open("linhas.tsv", "w") as f:
    f.write("1\t2\n" * 2000000)
)"},
        120, {}, dir.path().string());
    ASSERT_EQ(made.exitCode, 0) << made.err;
    auto run = measureBrivlon({"--convert", "tsv", (dir / "grande.xlsx").string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.peakMiB > 0 && run.peakMiB < 400) << run.peakMiB << " MiB";
    ASSERT_TRUE(fs::exists(dir / "grande.tsv"));
    EXPECT_EQ(fs::file_size(dir / "grande.tsv"), 1000000u * 7);
    run = measureBrivlon({"--convert", "csv", (dir / "linhas.tsv").string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.peakMiB > 0 && run.peakMiB < 100) << run.peakMiB << " MiB";
    EXPECT_EQ(fs::file_size(dir / "linhas.csv"), 3 + 2000000u * 5);
}
