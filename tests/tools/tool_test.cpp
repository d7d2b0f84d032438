#include "core/base/task.h"
#include "support/test_support.h"
#include "tools/tool.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace TestSupport;

TEST(ToolCatalogue, WhatASelectionOffers)
{
    TempDir dir;
    auto files = [&](std::initializer_list<const char*> names) {
        std::vector<fs::path> paths;
        for (const char* name : names) {
            writeFile(dir / name, "x");
            paths.push_back(dir / name);
        }
        return paths;
    };
    const auto titles = [](const std::vector<Tool>& tools) {
        std::vector<std::string> result;
        for (auto tool : tools)
            result.push_back(Tools::rawValue(tool));
        return result;
    };
    EXPECT_EQ(titles(Tools::available(files({"a.jpg", "b.png"}))),
        (std::vector<std::string>{"imgCompress", "imgResize", "imgCrop", "imgRotate", "imgStrip", "imgBlurFaces"}));
    EXPECT_EQ(Tools::available(files({"a.mp4"})).size(), 4u);
    EXPECT_EQ(Tools::available(files({"a.mp4", "b.mov"})).back(), Tool::vidJoin);
    EXPECT_EQ(titles(Tools::available(files({"a.mp3"}))), (std::vector<std::string>{"audTrim", "audNormalize"}));
    EXPECT_TRUE(Tools::available(files({"a.mp4", "b.mp3"})).empty());
    EXPECT_TRUE(Tools::available({}).empty());
    fs::create_directories(dir / "pasta");
    EXPECT_TRUE(Tools::available({dir / "pasta"}).empty());
    EXPECT_TRUE(Tools::available(files({"a.csv"})).empty());

    EXPECT_EQ(Tools::fromRaw("imgcompress"), std::nullopt);
    EXPECT_EQ(Tools::fromRaw("pdfExtract"), Tool::pdfExtract);
}

TEST(ToolCatalogue, OutputNamesAreFreeAndKeepInnerDots)
{
    TempDir dir;
    Task::Binder job(Task::newJob());
    // Published one after another, as tool jobs finish.
    const auto compressed = ToolEngine::output(dir / "a.jpeg", Tool::imgCompress);
    EXPECT_EQ(FileSafety::writeNew(compressed, "x"), dir / "a (comprimido).jpg");
    fs::create_directories(dir / "a (comprimido) 2.jpg");
    EXPECT_EQ(FileSafety::writeNew(compressed, "y"), dir / "a (comprimido) 3.jpg");
    EXPECT_EQ(readFile(dir / "a (comprimido).jpg"), "x");
    EXPECT_EQ(ToolEngine::output(dir / "notas", Tool::pdfRotate)(2), dir / "notas (girado) 2");
    EXPECT_EQ(
        ToolEngine::output(dir / "relatório.final.pdf", Tool::pdfExtract)(1), dir / "relatório.final (extraído).pdf");
    EXPECT_EQ(ToolEngine::output(dir / "v.mov", Tool::vidJoin, "mp4")(1), dir / "v (juntos).mp4");
}

// A menu or a row of buttons whose field starts outside its choices shows one value and applies
// another; a page past the switch's choices is never shown.
TEST(ToolCatalogue, EveryPanelStartsOnOneOfItsChoices)
{
    for (auto tool : Tools::all()) {
        SCOPED_TRACE(Tools::rawValue(tool));
        const auto start = Tools::panelStart(tool);
        size_t pages = 0;
        for (const auto& control : Tools::controls(tool)) {
            if (control.kind == ToolControl::Kind::modes)
                pages = control.choices.size();
            EXPECT_LT(control.page, int(pages)) << control.text;
            if (control.choices.empty())
                continue;
            const auto held = std::visit(
                [&](auto member) {
                    return std::ranges::any_of(control.choices, [&](const ToolChoice& choice) {
                        if constexpr (std::is_same_v<decltype(member), std::monostate>)
                            return false;
                        else if constexpr (std::is_same_v<decltype(member), std::string ToolParams::*>)
                            return start.*member == choice.text;
                        else
                            return start.*member == decltype(start.*member)(choice.number);
                    });
                },
                control.field);
            EXPECT_TRUE(held) << control.text;
        }
    }
}
