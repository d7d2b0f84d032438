// The settings window and the update checker in a real desktop session: Ctrl+, on the main
// window opens the settings, and a normal start asks the manifest once, about 8 s in. Every step
// waits for a line or a request with a deadline. Run through support/with-x.

#include "support/loopback_server.h"
#include "support/line_child.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace TestSupport;

namespace {

::testing::AssertionResult startsWith(LineChild& child, const std::string& prefix, std::string& rest)
{
    const auto line = child.nextLine();
    if (!line)
        return ::testing::AssertionFailure() << "waited in vain for \"" << prefix << "\"";
    if (line->rfind(prefix, 0) != 0)
        return ::testing::AssertionFailure() << "expected \"" << prefix << "…\", got \"" << *line << "\"";
    rest = line->substr(prefix.size());
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult openSettings()
{
    LineChild probe(SETTINGS_PROBE);
    LineChild driver(XTEST_DRIVER);
    std::string rest;
    REQUIRE(startsWith(probe, "ready ", rest));
    for (const char* item : {"Ajustes…", "Procurar atualizações…", "Relatar um problema…"})
        REQUIRE(probe.expect(std::string("item ") + item + ": enabled"));
    std::istringstream at(rest);
    int x = 0, y = 0;
    at >> x >> y;
    for (const std::string& command : {"move " + std::to_string(x) + " " + std::to_string(y), std::string("press"),
             std::string("release"), std::string("down Control_L"), std::string("down comma"), std::string("up comma"),
             std::string("up Control_L")}) {
        driver.send(command);
        REQUIRE(driver.expect("ok"));
    }
    REQUIRE(startsWith(probe, "settings ", rest));
    std::printf("settings window shown %s ms after \"Ajustes…\"\n", rest.c_str());
    REQUIRE(startsWith(probe, "tab switch ", rest));
    std::printf("slowest tab switch painted in (first visit, later) %s ms\n", rest.c_str());
    return ::testing::AssertionSuccess();
}

}

TEST(SettingsX11, ControlCommaOpensTheSettings) { EXPECT_TRUE(openSettings()); }

// The report form with a real hand: "Enviar" with nothing typed, a description typed, "Enviar"
// again. Without a mail program here the report is copied; the program stays, and keeps a copy.
TEST(SettingsX11, TheReportFormSendsAfterABlankTry)
{
    LineChild probe(SETTINGS_PROBE, {"report"});
    LineChild driver(XTEST_DRIVER);
    std::string rest;
    ASSERT_TRUE(startsWith(probe, "form ", rest));
    int sendX = 0, sendY = 0, textX = 0, textY = 0;
    std::istringstream(rest) >> sendX >> sendY >> textX >> textY;
    auto drive = [&](const std::vector<std::string>& commands) -> ::testing::AssertionResult {
        for (const auto& command : commands) {
            driver.send(command);
            REQUIRE(driver.expect("ok"));
        }
        return ::testing::AssertionSuccess();
    };
    const auto click = [](int x, int y) {
        return std::vector<std::string>{"move " + std::to_string(x) + " " + std::to_string(y), "press", "release"};
    };
    ASSERT_TRUE(drive(click(sendX, sendY)));
    ASSERT_TRUE(startsWith(probe, "status ", rest));
    // The status line pushed the button down.
    std::istringstream moved(rest);
    moved >> sendX >> sendY;
    EXPECT_EQ(rest.substr(rest.find(' ', rest.find(' ') + 1) + 1), "Descreva o que aconteceu antes de enviar.");
    ASSERT_TRUE(drive(click(textX, textY)));
    ASSERT_TRUE(probe.expect("typing"));
    for (const char* key : {"p", "a", "r", "o", "u", "space", "n", "o", "space", "m", "e", "i", "o"})
        ASSERT_TRUE(drive({std::string("down ") + key, std::string("up ") + key}));
    ASSERT_TRUE(drive(click(sendX, sendY)));
    ASSERT_TRUE(startsWith(probe, "status ", rest));
    EXPECT_NE(rest.find("Não há app de e-mail configurado."), std::string::npos) << rest;
    const fs::path copies = fs::path(std::getenv("XDG_DATA_HOME")) / "Brivlon" / "Relatos";
    ASSERT_TRUE(fs::exists(copies));
    std::string kept;
    for (const auto& entry : fs::directory_iterator(copies))
        kept += readFile(entry.path());
    EXPECT_NE(kept.find("parou no meio"), std::string::npos) << kept;
}

// Escape closes each window that has the keyboard, as it closes a dialog; the tool's panel closes
// without running its tool.
TEST(SettingsX11, EscapeClosesTheSettingsTheReportFormAndAToolsPanel)
{
    TempDir dir;
    writeFile(dir / "foto.png", "");
    LineChild probe(SETTINGS_PROBE, {"escape", (dir / "foto.png").string()});
    LineChild driver(XTEST_DRIVER);
    for (const std::string window : {"settings", "form", "panel imgCompress", "panel imgResize", "panel imgCrop",
             "panel vidCompress", "panel pdfExtract"}) {
        ASSERT_TRUE(probe.expect(window + " active"));
        for (const char* command : {"down Escape", "up Escape"}) {
            driver.send(command);
            ASSERT_TRUE(driver.expect("ok"));
        }
        ASSERT_TRUE(probe.expect(window + " closed"));
    }
}

// Closing and opening the settings again, and across a restart, puts the window back where it was:
// a frame stored with its title bar but restored as the client area moves down by the decoration
// at every showing.
TEST(SettingsX11, TheSettingsReopenWhereTheyWere)
{
    std::vector<std::string> frames;
    for (int run = 0; run < 2; ++run) {
        LineChild probe(SETTINGS_PROBE, {"reopen"});
        std::string rest;
        for (int showing = 0; showing < 3; ++showing) {
            ASSERT_TRUE(startsWith(probe, "frame ", rest));
            frames.push_back(rest);
        }
        ASSERT_TRUE(probe.expect("done"));
        ASSERT_TRUE(probe.finished(10000));
    }
    for (const auto& frame : frames)
        EXPECT_EQ(frame, frames.front());
}

TEST(SettingsX11, ANormalStartAsksTheManifestAboutEightSecondsIn)
{
    LoopbackServer server(LoopbackServer::json(R"({"versoes": []})"));
    // A runtime folder of its own: with the shared one, a tray program that another test run on
    // this machine started would take this start's "show yourself", and this one would leave.
    TestSupport::TempDir runtime;
    ::chmod(runtime.path().c_str(), 0700);
    const auto started = std::chrono::steady_clock::now();
    LineChild app(BRIVLON_BINARY, {},
        {{"BRIVLON_UPDATES_URL", server.url()}, {"XDG_RUNTIME_DIR", runtime.path().string()}, {"BRIVLON_TRACE", "1"}});
    // The check's time counts from the program's own word that it is up, since a loaded machine
    // can take seconds to start it; the wait before the check is armed before that word.
    std::optional<std::string> line;
    while ((line = app.nextLine()) && *line != "pronto") { }
    ASSERT_TRUE(line) << "the program never said it was up";
    const auto up = std::chrono::steady_clock::now();
    double sinceStart = -1, sinceUp = -1;
    while (std::chrono::steady_clock::now() - up < std::chrono::seconds(20)) {
        if (!server.requests().empty()) {
            const auto now = std::chrono::steady_clock::now();
            sinceStart = std::chrono::duration<double>(now - started).count();
            sinceUp = std::chrono::duration<double>(now - up).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GT(sinceStart, 0) << "no request within 20 s of the start";
    EXPECT_GE(sinceStart, 7.9);
    EXPECT_LT(sinceUp, 12);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests().front().rfind("GET /atualizacoes.json", 0), 0u);
}
