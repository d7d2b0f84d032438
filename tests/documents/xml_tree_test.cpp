#include "documents/xml_tree.h"
#include "fuzz/xml_events.h"

#include <gtest/gtest.h>

#include <string>

TEST(XmlTree, NamesTextSearchOrderAndDeepNesting)
{
    auto root = XML::parse("<?xml version=\"1.0\"?><a:top xmlns:a=\"urn:x\" k=\"v\"> x <b><c>1</c></b>"
                           "<c>2<d/>3</c><![CDATA[<kept>]]>&amp;y</a:top>");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name, "top");
    EXPECT_EQ(*root->attr("k"), "v");
    EXPECT_EQ(root->text, " x <kept>&y");
    EXPECT_EQ(root->find("c")->text, "1");
    EXPECT_FALSE(root->find("top"));
    EXPECT_EQ(root->allText("c"), "123");
    for (const char* broken : {"", "<a><b></a>", "<a/><b/>"})
        EXPECT_FALSE(XML::parse(broken)) << broken;

    // Neither the searches nor the tree's destruction may recurse once per level.
    const int depth = 200000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<e>";
    text += "<t>fundo</t>";
    for (int i = 0; i < depth; ++i)
        text += "</e>";
    root = XML::parse(text);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->find("t")->text, "fundo");
    EXPECT_EQ(root->allText("t"), "fundo");
}

TEST(XmlTree, ADocumentFedInPiecesReadsAsItDoesWhole)
{
    for (const std::string text : {std::string("<a>0;<b/><b c=\"1\" d='&lt;'>t</b></a>") + std::string(25, ' '),
             std::string("<a>x</a>\n"), std::string("<?xml version=\"1.0\"?>\n<a>x<![CDATA[y]]></a>")}) {
        XmlEvents whole;
        ASSERT_TRUE(XML::walk(text, whole.handlers())) << text;
        for (size_t step = 1; step <= 8; ++step) {
            XmlEvents pieces;
            XML::Feed feed(pieces.handlers());
            for (size_t at = 0; at < text.size(); at += step)
                feed.add(std::string_view(text).substr(at, step));
            EXPECT_TRUE(feed.finish()) << text << " in pieces of " << step;
            EXPECT_EQ(pieces.seen, whole.seen) << text << " in pieces of " << step;
        }
    }

    // A zero byte in an 8-bit document is U+0000, which XML forbids. Qt's reader lets one through
    // after a run of "]", and read in pieces refuses it or not by where a piece ends; refused
    // both ways. In UTF-16 zero bytes are half of every character, and read as they should.
    using namespace std::string_literals;
    const auto zero = "<a>2![CDA"s + std::string(30, ']') + "\0\0\0\0"s + std::string(15, ']') + ";10;+b'a></a>";
    EXPECT_FALSE(XML::walk(zero, {}));
    for (size_t step = 1; step <= 8; ++step) {
        XML::Feed feed({});
        for (size_t at = 0; at < zero.size(); at += step)
            feed.add(std::string_view(zero).substr(at, step));
        EXPECT_FALSE(feed.finish()) << "in pieces of " << step;
    }
    const auto wide = "\xFF\xFE<\0a\0>\0x\0<\0/\0a\0>\0"s;
    XmlEvents wideWhole;
    EXPECT_TRUE(XML::walk(wide, wideWhole.handlers()));
    EXPECT_EQ(wideWhole.seen, "<a\nx>\n");
    for (size_t step = 1; step <= 3; ++step) {
        XmlEvents pieces;
        XML::Feed feed(pieces.handlers());
        for (size_t at = 0; at < wide.size(); at += step)
            feed.add(std::string_view(wide).substr(at, step));
        EXPECT_TRUE(feed.finish()) << "in pieces of " << step;
        EXPECT_EQ(pieces.seen, wideWhole.seen);
    }

    // What comes after the root in a later piece is still judged.
    for (const char* tail : {"\n<!-- fim -->\n", "x", "<", "<b/>"}) {
        XML::Feed feed({});
        feed.add("<a/>");
        feed.add(tail);
        EXPECT_EQ(feed.finish(), XML::walk(std::string("<a/>") + tail, {})) << tail;
    }
}
