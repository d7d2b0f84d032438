#include "documents/spreadsheet_engine.h"
#include "documents/xlsx.h"
#include "documents/xml_tree.h"

#include "core/conversion_error.h"
#include "core/shell.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>

using namespace TestSupport;
using SpreadsheetEngine::Row;
using SpreadsheetEngine::Sheet;
using SpreadsheetEngine::Workbook;
using Rows = std::vector<Row>;

namespace {

const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string mainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string bothNs =
    "xmlns=\"" + mainNs + "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

std::string entry(const fs::path& package, const std::string& name)
{
    return Shell::run("/usr/bin/unzip", {"-p", package.string(), name});
}

// A package made of exactly these parts.
fs::path package(const TempDir& dir, const std::string& name, const std::map<std::string, std::string>& parts)
{
    const auto folder = dir / (name + ".parts");
    for (const auto& [path, body] : parts)
        writeFile(folder / path, body);
    Shell::run("/usr/bin/zip", {"-X", "-r", "-q", (dir / name).string(), "."}, {.cwd = folder});
    return dir / name;
}

std::string sheetPart(const std::string& rows)
{
    return "<worksheet xmlns=\"" + mainNs + "\"><sheetData>" + rows + "</sheetData></worksheet>";
}

// The cell elements of a written sheet part, by reference.
std::map<std::string, const XML::Node*> cellsOf(const XML::Node& worksheet)
{
    std::map<std::string, const XML::Node*> cells;
    for (const auto& row : worksheet.find("sheetData")->children)
        for (const auto& cell : row->children)
            cells[*cell->attr("r")] = cell.get();
    return cells;
}

fs::path written(const TempDir& dir, const Workbook& workbook)
{
    auto path = dir / "saida.xlsx";
    fs::remove(path);
    SpreadsheetEngine::writeXLSX(workbook, path);
    return path;
}

OutputFormat format(const std::string& ext, const std::string& label)
{
    return {ext, label, false};
}

}

TEST(XlsxWriter, ExactPartsOfASmallTable)
{
    TempDir dir;
    auto path = written(dir, {{"Pessoas", {{"Nome", "Idade"}, {"Ana", "30"}}}});
    EXPECT_EQ(entry(path, "xl/worksheets/sheet1.xml"),
              header + "<worksheet xmlns=\"" + mainNs + "\"><sheetData>"
                       "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">Nome</t></is></c>"
                       "<c r=\"B1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">Idade</t></is></c></row>"
                       "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t xml:space=\"preserve\">Ana</t></is></c>"
                       "<c r=\"B2\"><v>30</v></c></row></sheetData></worksheet>");
    EXPECT_EQ(entry(path, "xl/workbook.xml"),
              header + "<workbook " + bothNs + "><sheets><sheet name=\"Pessoas\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    EXPECT_EQ(entry(path, "xl/_rels/workbook.xml.rels"),
              header + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                       "relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>");
    EXPECT_EQ(entry(path, "_rels/.rels"),
              header + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                       "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                       "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    EXPECT_NE(entry(path, "\\[Content_Types].xml")
                  .find("<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
                        "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>"),
              std::string::npos);
}

TEST(XlsxWriter, NumbersVersusTextAtTheEdges)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0", true}, {"-0", true}, {"-0.5", true}, {"12.250", true}, {"123456789012345", true},
        {"-123456789012345.5", true}, {"007", false}, {"00", false}, {"-01", false}, {"1e5", false},
        {"+3", false}, {"1.", false}, {".5", false}, {"-", false}, {"1.2.3", false},
        {"1234567890123456", false}, {"12 ", false}, {"\u0663", false}, {"1\n", false},
    };
    Row row;
    for (const auto& [text, _] : cases)
        row.push_back(text);
    TempDir dir;
    auto path = written(dir, {{"N", {row}}});
    auto tree = XML::parse(entry(path, "xl/worksheets/sheet1.xml"));
    ASSERT_TRUE(tree);
    auto cells = cellsOf(*tree);
    auto readBack = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(readBack.size(), 1u);
    ASSERT_EQ(readBack[0].rows.size(), 1u);
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [text, isNumber] = cases[i];
        SCOPED_TRACE(text);
        std::string ref = std::string(1, char('A' + i % 26));
        if (i >= 26)
            ref = "A" + ref;
        const auto* cell = cells.at(ref + "1");
        EXPECT_EQ(cell->attr("t") == nullptr, isNumber);
        EXPECT_EQ(readBack[0].rows[0].at(i), text);
    }
}

TEST(XlsxWriter, EscapesKeepsBlanksAndEmptyCells)
{
    TempDir dir;
    const Rows rows = {{"  a & <b> \"c\" ", "", "fim"}, {}, {"", "só B"}};
    auto path = written(dir, {{"T", rows}});
    const auto part = entry(path, "xl/worksheets/sheet1.xml");
    EXPECT_NE(part.find("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">  a &amp; &lt;b&gt; "
                        "&quot;c&quot; </t></is></c><c r=\"C1\""),
              std::string::npos);
    EXPECT_NE(part.find("<row r=\"2\"></row><row r=\"3\"><c r=\"B3\""), std::string::npos);
    auto workbook = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(workbook.size(), 1u);
    EXPECT_EQ(workbook[0].rows, rows);
}

TEST(XlsxWriter, ColumnLettersPastZ)
{
    TempDir dir;
    Row row(703, "x");
    auto path = written(dir, {{"Largo", {row}}});
    auto tree = XML::parse(entry(path, "xl/worksheets/sheet1.xml"));
    ASSERT_TRUE(tree);
    const auto& cells = tree->find("row")->children;
    ASSERT_EQ(cells.size(), 703u);
    for (auto [index, ref] : std::vector<std::pair<size_t, std::string>>{
             {0, "A1"}, {25, "Z1"}, {26, "AA1"}, {27, "AB1"}, {701, "ZZ1"}, {702, "AAA1"}})
        EXPECT_EQ(*cells[index]->attr("r"), ref);
    EXPECT_EQ(SpreadsheetEngine::readXLSX(path)[0].rows[0], row);
}

TEST(XlsxWriter, DropsWhatXmlCannotHold)
{
    TempDir dir;
    const std::string forbidden = std::string("\x00\x01\x08\x0B\x0C\x0E\x1F", 7) +
                                  "\xEF\xBF\xBE\xEF\xBF\xBF"   // U+FFFE, U+FFFF
                                  "\xED\xA0\x80\xED\xBF\xBF"   // lone surrogates
                                  "\xFF\xC3\xC0\xAF";          // not UTF-8: stray bytes, an overlong "/"
    auto path = written(dir, {{"Aba" + forbidden + "1", {{"a" + forbidden + "b\t\n\r!", "ok\xF0\x9F\x98\x80"}}}});
    for (auto part : {"xl/workbook.xml", "xl/worksheets/sheet1.xml"})
        EXPECT_TRUE(XML::parse(entry(path, part))) << part;
    auto workbook = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(workbook.size(), 1u);
    EXPECT_EQ(workbook[0].name, "Aba1");
    EXPECT_EQ(workbook[0].rows, (Rows{{"ab\t\n\n!", "ok\xF0\x9F\x98\x80"}}));
}

TEST(XlsxWriter, SheetNamesCutAt31WithoutSplittingAPair)
{
    const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
    std::string accented;
    for (int i = 0; i < 40; ++i)
        accented += "é";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string(40, 'a'), std::string(31, 'a')},
        {std::string(31, 'b'), std::string(31, 'b')},
        {std::string(29, 'c') + emoji, std::string(29, 'c') + emoji},
        {std::string(30, 'd') + emoji, std::string(30, 'd')},
        {std::string(30, 'e') + "\x01" + "f", std::string(30, 'e') + "f"},
        {accented, accented.substr(0, 62)},
        {"A & B <\"x\">", "A & B <\"x\">"},
    };
    Workbook workbook;
    for (const auto& [name, _] : cases)
        workbook.push_back({name, {{"1"}}});
    TempDir dir;
    auto readBack = SpreadsheetEngine::readXLSX(written(dir, workbook));
    ASSERT_EQ(readBack.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(readBack[i].name, cases[i].second);
}

TEST(XlsxReader, SharedInlineBooleanCellsAndGaps)
{
    TempDir dir;
    auto path = package(
        dir, "lido.xlsx",
        {{"xl/workbook.xml", "<workbook " + bothNs + "><sheets><sheet name=\"Um\" sheetId=\"1\" r:id=\"rId7\"/>"
                                                     "<sheet sheetId=\"2\" r:id=\"rId8\"/></sheets></workbook>"},
         {"xl/_rels/workbook.xml.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId7\" Target=\"worksheets/folha[1]*.xml\"/>"
          "<Relationship Id=\"rId8\" Target=\"/xl/worksheets/outra.xml\"/><Relationship Id=\"rId9\"/></Relationships>"},
         {"xl/sharedStrings.xml", "<sst xmlns=\"" + mainNs + "\"><si><t>um</t></si>"
                                  "<si><r><t>do</t></r><r><t xml:space=\"preserve\">is</t></r><rPh><t>X</t></rPh></si></sst>"},
         {"xl/worksheets/folha1x.xml", sheetPart("<row><c><v>engano</v></c></row>")},
         {"xl/worksheets/folha[1]*.xml",
          sheetPart("<row r=\"3\"><c r=\"C3\" t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c></row>"
                    "<row><c r=\"A4\" t=\"b\"><v>1</v></c><c r=\"B4\" t=\"b\"><v>0</v></c>"
                    "<c r=\"c4\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>line</t></r></is></c></row>"
                    "<row r=\"5\"><c r=\"A5\" t=\"s\"><v>7</v></c><c r=\"B5\" t=\"s\"><v>-1</v></c>"
                    "<c r=\"C5\" t=\"s\"><v>x</v></c><c r=\"D5\"><v>3.5</v></c>"
                    "<c r=\"E5\" t=\"str\"><f>A1</f><v>calc</v></c><c r=\"F5\" t=\"inlineStr\"/></row>"
                    "<row r=\"2\"><c r=\"A2\"><v>tarde</v></c></row>")},
         {"xl/worksheets/outra.xml",
          "<x:worksheet xmlns:x=\"" + mainNs + "\"><x:sheetData><x:row r=\"1\"><x:c r=\"B1\" t=\"inlineStr\">"
                                               "<x:is><x:t>pref</x:t></x:is></x:c></x:row></x:sheetData></x:worksheet>"}});
    auto workbook = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(workbook.size(), 2u);
    EXPECT_EQ(workbook[0].name, "Um");
    EXPECT_EQ(workbook[0].rows, (Rows{{},
                                      {},
                                      {"", "", "um", "doisX"},
                                      {"VERDADEIRO", "FALSO", "inline"},
                                      {"", "", "", "3.5", "calc", ""},
                                      {"tarde"}}));
    EXPECT_EQ(workbook[1].name, "Planilha2");
    EXPECT_EQ(workbook[1].rows, (Rows{{"", "pref"}}));
}

TEST(XlsxReader, MissingOptionalPartsDegrade)
{
    TempDir dir;
    auto path = package(dir, "sem.xlsx",
                        {{"xl/workbook.xml", "<workbook " + bothNs + "><sheets><sheet name=\"A\"/><sheet name=\"B\"/>"
                                                                     "<sheet name=\"C\"/></sheets></workbook>"},
                         {"xl/worksheets/sheet1.xml", sheetPart("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c>"
                                                                "<c r=\"B1\"><v>2</v></c></row>")},
                         {"xl/worksheets/sheet3.xml", "<worksheet><sheetData><row>quebrado"}});
    auto workbook = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(workbook.size(), 1u);
    EXPECT_EQ(workbook[0].name, "A");
    EXPECT_EQ(workbook[0].rows, (Rows{{"", "2"}}));
}

TEST(XlsxReader, UnreadablePackagesFail)
{
    TempDir dir;
    auto noWorkbook = package(dir, "a.xlsx", {{"xl/worksheets/sheet1.xml", sheetPart("")}});
    auto badWorkbook = package(dir, "b.xlsx", {{"xl/workbook.xml", "<workbook><sheets>"}});
    auto noSheets = package(dir, "Vazio.xlsx", {{"xl/workbook.xml", "<workbook " + bothNs + "><sheets><sheet name=\"A\"/></sheets></workbook>"}});
    writeFile(dir / "texto.xlsx", "isto não é um pacote");
    for (const auto& path : {noWorkbook, badWorkbook, dir / "texto.xlsx", dir / "falta.xlsx"}) {
        SCOPED_TRACE(path);
        try {
            SpreadsheetEngine::readXLSX(path);
            FAIL() << "must fail";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.kind(), ConversionError::Kind::unreadable);
            EXPECT_STREQ(error.what(), "Não foi possível ler o arquivo.");
        }
    }
    EXPECT_TRUE(SpreadsheetEngine::readXLSX(noSheets).empty());
    try {
        SpreadsheetEngine::convert(noSheets, format("csv", "CSV"));
        FAIL() << "a workbook without sheets must fail";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::unreadable);
    }
}

TEST(XlsxReader, IgnoresCellsBeyondTheFormatsLimits)
{
    TempDir dir;
    auto path = package(
        dir, "enorme.xlsx",
        {{"xl/workbook.xml", "<workbook " + bothNs + "><sheets><sheet name=\"A\"/></sheets></workbook>"},
         {"xl/worksheets/sheet1.xml",
          sheetPart("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c><c r=\"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA1\"><v>2</v></c>"
                    "<c r=\"A1\"><v>ok</v></c></row>"
                    "<row r=\"1048577\"><c r=\"A1048577\"><v>fora</v></c></row>"
                    "<row r=\"99999999999999999999999999\"><c><v>fora</v></c></row>"
                    "<row r=\"3\"><c r=\"XFD3\"><v>ultima</v></c><c><v>fora</v></c></row>")}});
    auto workbook = SpreadsheetEngine::readXLSX(path);
    ASSERT_EQ(workbook.size(), 1u);
    const auto& rows = workbook[0].rows;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (Row{"ok"}));
    EXPECT_TRUE(rows[1].empty());
    ASSERT_EQ(rows[2].size(), 16384u);
    EXPECT_EQ(rows[2].back(), "ultima");
}

TEST(SpreadsheetConvert, SeveralSheetsToDelimitedMakeAFolder)
{
    TempDir dir;
    const auto source = dir / "Vendas.xlsx";
    SpreadsheetEngine::writeXLSX({{"Jan", {{"a", "1"}}}, {"Fev/Mar", {{"b\tc", "2"}}}, {"Abr", {}}}, source);

    auto folder = SpreadsheetEngine::convert(source, format("tsv", "TSV"));
    EXPECT_EQ(folder, dir / "Vendas (TSV)");
    EXPECT_EQ(readFile(folder / "Jan.tsv"), "a\t1\r\n");
    EXPECT_EQ(readFile(folder / "Fev-Mar.tsv"), "\"b\tc\"\t2\r\n");
    EXPECT_EQ(readFile(folder / "Abr.tsv"), "\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);

    writeFile(dir / "Vendas (CSV)", "um arquivo no caminho");
    EXPECT_EQ(SpreadsheetEngine::convert(source, format("tsv", "TSV")), dir / "Vendas (TSV) 2");
    auto csvFolder = SpreadsheetEngine::convert(source, format("csv", "CSV"));
    EXPECT_EQ(csvFolder, dir / "Vendas (CSV) 2");
    EXPECT_EQ(readFile(csvFolder / "Jan.csv"), "\xEF\xBB\xBF" "a,1\r\n");
}

TEST(SpreadsheetConvert, SingleSheetAndDelimitedToXlsx)
{
    TempDir dir;
    SpreadsheetEngine::writeXLSX({{"Única", {{"x"}}}}, dir / "so.xlsx");
    auto csv = SpreadsheetEngine::convert(dir / "so.xlsx", format("csv", "CSV"));
    EXPECT_EQ(csv, dir / "so.csv");
    EXPECT_EQ(readFile(csv), "\xEF\xBB\xBFx\r\n");

    writeFile(dir / "tabela.csv", "nome;valor\nAna;-0,5\n\"Bia\";10\n");
    auto xlsx = SpreadsheetEngine::convert(dir / "tabela.csv", format("xlsx", "XLSX"));
    EXPECT_EQ(xlsx, dir / "tabela.xlsx");
    auto workbook = SpreadsheetEngine::readXLSX(xlsx);
    ASSERT_EQ(workbook.size(), 1u);
    EXPECT_EQ(workbook[0].name, "Planilha1");
    EXPECT_EQ(workbook[0].rows, (Rows{{"nome", "valor"}, {"Ana", "-0,5"}, {"Bia", "10"}}));
    EXPECT_EQ(SpreadsheetEngine::convert(dir / "tabela.csv", format("xlsx", "XLSX")), dir / "tabela 2.xlsx");
}
