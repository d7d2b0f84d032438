#include "documents/xml_tree.h"

#include <gtest/gtest.h>

#include <string>

TEST(XmlTree, NamesTextAndSearchOrder)
{
    auto root = XML::parse("<?xml version=\"1.0\"?><a:top xmlns:a=\"urn:x\" k=\"v\"> x <b><c>1</c></b>"
                           "<c>2<d/>3</c><![CDATA[skip]]>&amp;y</a:top>");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name, "top");
    EXPECT_EQ(*root->attr("k"), "v");
    EXPECT_EQ(root->text, " x &y");
    ASSERT_TRUE(root->find("c"));
    EXPECT_EQ(root->find("c")->text, "1");
    EXPECT_FALSE(root->find("top"));
    EXPECT_EQ(root->allText("c"), "123");
    EXPECT_FALSE(XML::parse(""));
    EXPECT_FALSE(XML::parse("<a><b></a>"));
    EXPECT_FALSE(XML::parse("<a/><b/>"));
}

TEST(XmlTree, DeepNestingNeitherOverflowsNorLeaks)
{
    const int depth = 200000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "<e>";
    text += "<t>fundo</t>";
    for (int i = 0; i < depth; ++i)
        text += "</e>";
    auto root = XML::parse(text);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->find("t")->text, "fundo");
    EXPECT_EQ(root->allText("t"), "fundo");
    root.reset();
}
