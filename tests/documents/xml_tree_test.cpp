#include "documents/xml_tree.h"

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
