// Deeply nested pages: bounded before Qt's import, whose time grows with the square of the
// depth (and faster for tables), while real pages pass unchanged.

#include "documents/html_nesting.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <chrono>

using namespace TestSupport;

namespace {

QString repeated(const QString& piece, int times)
{
    QString all;
    for (int i = 0; i < times; ++i)
        all += piece;
    return all;
}

}

TEST(HtmlNesting, RealPagesPassAsTheyAre)
{
    const QString page = "<!DOCTYPE html><html><head><title>a <b> c</title><style>div > p { color: red }</style>"
                         "<script>if (a < b) document.write('<div><div>')</script></head><body>"
                         "<!-- <table><table> --><div class=\"x>y\" data-a='<i>'><p>um<p>dois<br/><img src=a.png>"
                         "<ul><li>a<li>b<ul><li>c</ul></ul><table><tr><td>1<td>2<tr><th>3</table>"
                         "<dl><dt>t<dd>d</dl><select><option>o<option>p</select></div> 5 < 6 </b></body></html>";
    // Only what the script holds goes.
    EXPECT_EQ(HtmlNesting::bounded(page), QString(page).remove("if (a < b) document.write('<div><div>')"));
    EXPECT_EQ(HtmlNesting::bounded("<style>p::before { content: \"<\" }</style>"),
        "<style>p::before { content: \"\\3c \" }</style>");
}

TEST(HtmlNesting, DeepElementsAndTablesAreCutAtTheirBoundsWithTheirTextKept)
{
    const QString divs = HtmlNesting::bounded(repeated("<div><b>", 5000) + "fundo" + repeated("</b></div>", 5000));
    EXPECT_EQ(divs.count("<div>") + divs.count("<b>"), HtmlNesting::deepest);
    EXPECT_EQ(divs.count("</div>") + divs.count("</b>"), HtmlNesting::deepest);
    EXPECT_TRUE(divs.contains("fundo"));

    QString tables;
    for (int i = 0; i < 30; ++i)
        tables += "<table><tr><td>c" + QString::number(i) + "<td>";
    tables += repeated("</table>", 30);
    const QString cut = HtmlNesting::bounded(tables);
    EXPECT_EQ(cut.count("<table>"), HtmlNesting::deepestTables);
    EXPECT_EQ(cut.count("<td>"), 2 * HtmlNesting::deepestTables);
    for (int i = 0; i < 30; ++i)
        EXPECT_TRUE(cut.contains(QRegularExpression("c" + QString::number(i) + "[ <]"))) << i;
}

TEST(HtmlNesting, AHostilePageConvertsInSeconds)
{
    TempDir dir;
    writeFile(dir / "funda.html", (repeated("<div>", 20000) + "fundo do poço" + repeated("</div>", 20000)).toStdString());
    writeFile(dir / "mesas.html",
        (repeated("<table><tr><td>", 40) + "mesa interna" + repeated("</td></tr></table>", 40)).toStdString());
    for (const char* name : {"funda.html", "mesas.html"}) {
        const auto started = std::chrono::steady_clock::now();
        const auto run = runBrivlon({"--convert", "txt", (dir / name).string()}, 60, {{"BRIVLON_NO_COMPONENTS", "1"}});
        ASSERT_EQ(run.exitCode, 0) << name << run.err;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << name;
        const auto pdf = runBrivlon({"--convert", "pdf", (dir / name).string()}, 60, {{"BRIVLON_NO_COMPONENTS", "1"}});
        EXPECT_EQ(pdf.exitCode, 0) << name << pdf.err;
    }
    EXPECT_NE(readFile(dir / "funda.txt").find("fundo do poço"), std::string::npos);
    EXPECT_NE(readFile(dir / "mesas.txt").find("mesa interna"), std::string::npos);
}
