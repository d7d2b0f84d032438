#include "core/jobs/job_store.h"
#include "menus/wheel_controller.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace TestSupport;

namespace {
std::vector<std::string> labels(const WheelController::Entries& entries)
{
    std::vector<std::string> result;
    for (const auto& entry : entries.entries)
        result.push_back(entry.label);
    return result;
}
}

TEST(CardEntries, WhatEachModeOffersForASelection)
{
    TempDir dir;
    for (const char* name : {"a.png", "b.png", "c.mp3", "d.xyz", "v.mp4", "w.mov"})
        writeFile(dir / name, "x");
    const WheelEntry::Paths png{dir / "a.png"}, pngs{dir / "a.png", dir / "b.png"}, mixed{dir / "a.png", dir / "c.mp3"};

    const auto one = WheelController::entries(WheelMode::convert, png);
    const auto names = labels(one);
    EXPECT_EQ(std::count(names.begin(), names.end(), "PNG"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "PDF ÚNICO"), 0);
    for (const auto& entry : one.entries)
        EXPECT_EQ(entry.detail, "Converter para " + entry.label);
    const auto jpg = std::find_if(one.entries.begin(), one.entries.end(), [](auto& e) {
        return e.label == "JPG";
    });
    ASSERT_NE(jpg, one.entries.end());
    EXPECT_EQ(jpg->quality, QualityGroup::jpg);
    EXPECT_TRUE(jpg->runWithQuality && jpg->run);

    const auto two = WheelController::entries(WheelMode::convert, pngs);
    const auto merged = std::find_if(two.entries.begin(), two.entries.end(), [](auto& e) {
        return e.label == "PDF ÚNICO";
    });
    ASSERT_NE(merged, two.entries.end());
    EXPECT_EQ(merged->detail, "Juntar tudo em um PDF");
    EXPECT_EQ(merged->quality, std::nullopt);

    const auto none = WheelController::entries(WheelMode::convert, mixed);
    EXPECT_TRUE(none.entries.empty());
    EXPECT_EQ(none.empty, "Use arquivos do\nmesmo grupo");
    EXPECT_EQ(WheelController::entries(WheelMode::tools, mixed).empty, "Sem ferramentas\npara esta seleção");
    EXPECT_TRUE(WheelController::entries(WheelMode::tools, mixed).entries.empty());
    EXPECT_EQ(WheelController::entries(WheelMode::convert, {dir / "d.xyz"}).empty, "Sem conversões\npara este arquivo");

    EXPECT_EQ(labels(WheelController::entries(WheelMode::tools, {dir / "v.mp4"})),
        (std::vector<std::string>{"COMPRIMIR", "APARAR", "SEM ÁUDIO", "GIRAR"}));
    EXPECT_EQ(labels(WheelController::entries(WheelMode::tools, {dir / "v.mp4", dir / "w.mov"})).back(), "JUNTAR");
    EXPECT_EQ(labels(WheelController::entries(WheelMode::tools, {dir / "c.mp3"})),
        (std::vector<std::string>{"APARAR", "NORMA- LIZAR"}));
    EXPECT_EQ(labels(WheelController::entries(WheelMode::actions, {})),
        (std::vector<std::string>{"ABRIR COM…", "ZIPAR", "MOVER PARA…", "COPIAR", "CAMINHO", "NA PASTA", "TERMINAL"}))
        << "nothing that could only report it is unavailable (no AirDrop here)";
}

TEST(CardEntries, ADroppedFifoOrDeviceGetsNoCards)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fila.mp4").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.png");
    writeFile(dir / "a.png", "x");
    for (const WheelEntry::Paths& dropped : {WheelEntry::Paths{dir / "fila.mp4"}, WheelEntry::Paths{dir / "zero.png"},
             WheelEntry::Paths{dir / "a.png", dir / "zero.png"}}) {
        EXPECT_TRUE(WheelController::offered(WheelMode::convert, dropped).entries.empty()) << dropped.back();
        EXPECT_TRUE(WheelController::offered(WheelMode::tools, dropped).entries.empty()) << dropped.back();
    }
    EXPECT_FALSE(WheelController::offered(WheelMode::convert, {dir / "a.png"}).entries.empty());
}
