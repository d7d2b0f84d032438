// The Markdown converter both ways: source to HTML by its rules, and styled text (as Qt's HTML
// import and our own builders make it) back to Markdown.

#include "documents/document_engine.h"
#include "documents/markdown.h"
#include "documents/styled_text.h"

#include <QTextDocument>

#include <gtest/gtest.h>

using Markdown::toHTML;
// Failures show the texts.
static void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

using TextRun = StyledText::Run;

namespace {

QString markdownOf(const QString& html) { return Markdown::fromAttributed(*DocumentEngine::fromHTML(html)); }

StyledText::Block paragraph(std::vector<TextRun> runs, int listLevel = 0, bool ordered = false)
{
    return {{std::move(runs), listLevel, ordered}, nullptr};
}

QString markdownOf(std::vector<StyledText::Block> blocks)
{
    StyledText::Document document;
    document.blocks = std::move(blocks);
    return Markdown::fromAttributed(*StyledText::toQt(document));
}

}

TEST(MarkdownToHTML, BlocksAndTheirOrder)
{
    EXPECT_EQ(toHTML(""), "");
    EXPECT_EQ(toHTML("# Title"), "<h1>Title</h1>\n");
    EXPECT_EQ(toHTML("###### six"), "<h6>six</h6>\n");
    EXPECT_EQ(toHTML("####### x"), "<p>####### x</p>\n");
    EXPECT_EQ(toHTML("#Title"), "<p>#Title</p>\n");
    EXPECT_EQ(toHTML("a\nb"), "<p>a b</p>\n");
    EXPECT_EQ(toHTML("---\n***\n___"), "<hr>\n<hr>\n<hr>\n");
    EXPECT_EQ(toHTML("- - -"), "<ul>\n<li>- -</li>\n</ul>\n");
    EXPECT_EQ(toHTML("> quote\n> again"), "<blockquote>quote</blockquote>\n<blockquote>again</blockquote>\n");
    EXPECT_EQ(toHTML("5 < 6 & 7"), "<p>5 &lt; 6 &amp; 7</p>\n");
}

TEST(MarkdownToHTML, ListsOpenCloseAndSwitch)
{
    EXPECT_EQ(toHTML("- a\n* b\n+ c"), "<ul>\n<li>a</li>\n<li>b</li>\n<li>c</li>\n</ul>\n");
    EXPECT_EQ(toHTML("- a\n1. b"), "<ul>\n<li>a</li>\n</ul>\n<ol>\n<li>b</li>\n</ol>\n");
    EXPECT_EQ(toHTML("2) x"), "<ol>\n<li>x</li>\n</ol>\n");
    // A paragraph line closes the list; an item writes the pending paragraph first.
    EXPECT_EQ(toHTML("- a\ntext"), "<ul>\n<li>a</li>\n</ul>\n<p>text</p>\n");
    EXPECT_EQ(toHTML("text\n- a"), "<p>text</p>\n<ul>\n<li>a</li>\n</ul>\n");
    // Each line break character ends a line by itself: CR LF leaves an empty line between.
    EXPECT_EQ(toHTML("a\r\nb"), "<p>a</p>\n<p>b</p>\n");
    EXPECT_EQ(toHTML("- a\r\n- b"), "<ul>\n<li>a</li>\n</ul>\n<ul>\n<li>b</li>\n</ul>\n");
}

TEST(MarkdownToHTML, CodeFencesKeepTheirText)
{
    EXPECT_EQ(toHTML("```cpp\n  **x** <y>\n```"), "<pre><code>  **x** &lt;y&gt;\n</code></pre>\n");
    // Never closed: closed at the end.
    EXPECT_EQ(toHTML("para\n```\ncode"), "<p>para</p>\n<pre><code>code\n</code></pre>\n");
}

TEST(MarkdownToHTML, InlineMarkupInSequence)
{
    EXPECT_EQ(toHTML("![logo](a.png)"), "<p>logo</p>\n");
    // Emphasis never reaches into an address: a link's, one written out, or an autolink.
    EXPECT_EQ(Markdown::inlineMarkup("[site](http://x/_a_/b)"), "<a href=\"http://x/_a_/b\">site</a>");
    EXPECT_EQ(Markdown::inlineMarkup("_veja_ [o *rascunho*](https://example.org/_draft_/x?a=1&b=*2*) _já_"),
        "<i>veja</i> <a href=\"https://example.org/_draft_/x?a=1&amp;b=*2*\">o <i>rascunho</i></a> <i>já</i>");
    EXPECT_EQ(Markdown::inlineMarkup("em https://example.org/_draft_/x e <https://a.b/__c__/d>, *fim*"),
        "em https://example.org/_draft_/x e &lt;https://a.b/__c__/d&gt;, <i>fim</i>");
    EXPECT_EQ(Markdown::inlineMarkup("**b** __c__ *i* _j_ ~~s~~ `k`"),
        "<b>b</b> <b>c</b> <i>i</i> <i>j</i> <s>s</s> <code>k</code>");
    EXPECT_EQ(Markdown::inlineMarkup("snake_case_name and 2*3*4"), "snake_case_name and 2*3*4");
    EXPECT_EQ(Markdown::inlineMarkup("`x *y* z`"), "<code>x <i>y</i> z</code>");
    EXPECT_EQ(Markdown::inlineMarkup("\"quotes\" & 'single'"), "\"quotes\" &amp; 'single'");
    EXPECT_EQ(Markdown::inlineMarkup("é *ção*"), "é <i>ção</i>");
}

TEST(MarkdownFromStyledText, HeadingsFromSizesAgainstTheBody)
{
    EXPECT_EQ(Markdown::fromAttributed(QTextDocument()), "\n");
    const auto body = TextRun{"corpo do texto bem mais longo que os títulos"};
    EXPECT_EQ(markdownOf({paragraph({{"Um", false, false, false, 20}}), paragraph({{"Dois", false, false, false, 16}}),
                  paragraph({{"Três", true, false, false, 14}}), paragraph({{"Quatro", false, false, false, 14}}),
                  paragraph({{"Cinco", true, false, false, 13}}), paragraph({body})}),
        "# Um\n\n## Dois\n\n### Três\n\nQuatro\n\n**Cinco**\n\n" + body.text + "\n");
    // What Qt's HTML import gives the three heading levels inside our frame.
    EXPECT_EQ(markdownOf("<h1>A</h1><h2>B</h2><h3>C</h3><p>um parágrafo comprido de texto normal</p>"),
        "# A\n\n## B\n\n### C\n\num parágrafo comprido de texto normal\n");
}

TEST(MarkdownFromStyledText, EmphasisAndLinks)
{
    EXPECT_EQ(markdownOf({paragraph({{"a "}, {" bold ", true}, {"x", true, true}, {" e "}, {"it", false, true}})}),
        "a  **bold** ***x*** e *it*\n");
    // A bold run inside a heading gets no markers; a link does.
    EXPECT_EQ(markdownOf({paragraph({{"Big", true, false, false, 24}, {"site", false, false, false, 24, "http://a"}}),
                  paragraph({{"corpo comprido o bastante para ser o tamanho comum"}})}),
        "# Big[site](http://a)\n\ncorpo comprido o bastante para ser o tamanho comum\n");
}

TEST(MarkdownFromStyledText, ListsJoinAndNest)
{
    EXPECT_EQ(markdownOf({paragraph({{"intro"}}), paragraph({{"a"}}, 1), paragraph({{"b"}}, 1), paragraph({{"c"}}, 1)}),
        "intro\n\n- a\n- b\n- c\n");
    EXPECT_EQ(
        markdownOf({paragraph({{"a"}}, 1), paragraph({{"b"}}, 2), paragraph({{"c"}}, 2)}), "- a\n  - b\n\n  - c\n");
    EXPECT_EQ(markdownOf({paragraph({{"um"}}, 1, true), paragraph({{"dois"}}, 1, true)}), "1. um\n1. dois\n");
    // Typed bullets and numbers become items too.
    EXPECT_EQ(markdownOf({paragraph({{"\t•\tum"}}), paragraph({{"3.\ttrês"}})}), "- um\n3. três\n");
}

TEST(MarkdownFromStyledText, RoundTripThroughHTML)
{
    const QString source = "# Título\n\nTexto com **negrito**, *itálico* e [link](http://a.b/c).\n\n- um\n- dois\n";
    EXPECT_EQ(Markdown::fromAttributed(*DocumentEngine::fromHTML(toHTML(source))), source);
}
