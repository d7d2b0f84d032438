#include "documents/office_engine.h"
#include "menus/palette.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

std::vector<std::pair<std::string, std::string>> stateIn(const TestSupport::TempDir& dir)
{
    return {{"XDG_STATE_HOME", (dir / "state").string()}};
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    size_t from = 0;
    while (from <= text.size()) {
        const auto end = text.find('\n', from);
        if (end == std::string::npos) {
            result.push_back(text.substr(from));
            break;
        }
        result.push_back(text.substr(from, end - from));
        from = end + 1;
    }
    return result;
}

int pixelsNear(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green())
                    + std::abs(pixel.blue() - colour.blue())
                < 12)
                ++count;
        }
    return count;
}

}

TEST(MaintenanceCli, DiagnosticsPrintTheBlockAndTheLastErrors)
{
    TestSupport::TempDir dir;
    auto run = TestSupport::runBrivlon({"--diagnostics", "ignored"}, 30, stateIn(dir));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto printed = lines(run.out);
    ASSERT_EQ(printed.size(), 7u) << run.out;  // six lines and the final break
    EXPECT_EQ(printed[0].rfind("Brivlon ", 0), 0u);
    // The machine's LibreOffice, where the bootstrap installs one, converts in the component's place.
    const auto suite = OfficeEngine::systemSuite();
    EXPECT_EQ(
        printed[2], "Motor de documentos: " + (suite ? suite->name + " do sistema" : std::string("não instalado")));
    EXPECT_EQ(printed[4], "Últimos erros:");
    EXPECT_EQ(printed[5], "(nenhum erro registrado)");
    EXPECT_EQ(printed[6], "");

    fs::create_directories(dir / "state/Brivlon");
    TestSupport::writeFile(dir / "state/Brivlon/erros.log", "");
    run = TestSupport::runBrivlon({"--diagnostics"}, 30, stateIn(dir));
    const std::string tail = "\nÚltimos erros:\n\n";
    EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);

    std::string log;
    for (int i = 1; i <= 35; ++i)
        log += "2026-01-01T00:00:00Z  erro " + std::to_string(i) + "\n";
    TestSupport::writeFile(dir / "state/Brivlon/erros.log", log);
    run = TestSupport::runBrivlon({"--diagnostics"}, 30, stateIn(dir));
    printed = lines(run.out);
    ASSERT_EQ(printed.size(), 5u + 30u + 1u);
    EXPECT_EQ(printed[5], "2026-01-01T00:00:00Z  erro 6");
    EXPECT_EQ(printed[34], "2026-01-01T00:00:00Z  erro 35");
}

TEST(MaintenanceCli, CheckUpdatesPrintsTheVersionAndTheOffer)
{
    const std::string manifest = R"({"versoes": [{"versao": "8.4", "download": "https://brivlon.example/8.4"}]})";
    TestSupport::TempDir dir;
    TestSupport::writeFile(dir / "m.json", manifest);
    auto run = TestSupport::runBrivlon(
        {"--check-updates"}, 30, {{"BRIVLON_UPDATES_URL", "file://" + (dir / "m.json").string()}});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "atual: 1.0\natualização coberta: 8.4\n");

    LoopbackServer server(LoopbackServer::json(manifest));
    run = TestSupport::runBrivlon({"--check-updates"}, 30, {{"BRIVLON_UPDATES_URL", server.url()}});
    EXPECT_EQ(run.out, "atual: 1.0\natualização coberta: 8.4\n");
    EXPECT_EQ(server.requests().size(), 1u);

    const auto closed = "http://127.0.0.1:" + std::to_string(closedPort()) + "/atualizacoes.json";
    run = TestSupport::runBrivlon({"--check-updates"}, 30, {{"BRIVLON_UPDATES_URL", closed}});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "atual: 1.0\natualização coberta: nenhuma\n");
}

TEST(MaintenanceCli, RenderViewSettingsDrawsEveryPage)
{
    TestSupport::TempDir dir;
    std::map<std::string, QImage> shots;
    for (const std::string appearance : {"light", "dark"})
        for (const std::string tab : {"geral", "aparencia", "teclas", "arquivos", "qualidade", "outra"}) {
            const auto out = dir / (appearance + "-" + tab + ".png");
            // A store of its own: the look is the fresh one whatever other tests chose.
            const auto run = TestSupport::runBrivlon({"--render-view", "settings", out.string(), tab}, 60,
                {{"BRIVLON_APPEARANCE", appearance}, {"XDG_CONFIG_HOME", (dir / "config").string()}});
            ASSERT_EQ(run.exitCode, 0) << run.err;
            QImage image(QString::fromStdString(out.string()));
            ASSERT_EQ(image.size(), QSize(540, 600)) << tab;
            shots[appearance + "-" + tab] = image;
        }
    for (const std::string appearance : {"light", "dark"}) {
        const auto tint = Theme::palette(appearance == "dark", AppTheme::macos).metal(WheelMode::convert);
        // Chosen segments and switches that are on are drawn in the tint.
        for (const std::string tab : {"aparencia", "arquivos", "qualidade"})
            EXPECT_GT(pixelsNear(shots[appearance + "-" + tab], tint), 200) << appearance << " " << tab;
        EXPECT_EQ(shots[appearance + "-outra"], shots[appearance + "-geral"]);
        const std::vector<std::string> tabs{"geral", "aparencia", "teclas", "arquivos", "qualidade"};
        for (size_t i = 0; i < tabs.size(); ++i)
            for (size_t j = i + 1; j < tabs.size(); ++j)
                EXPECT_NE(shots[appearance + "-" + tabs[i]], shots[appearance + "-" + tabs[j]]);
    }
    EXPECT_NE(shots["light-teclas"], shots["dark-teclas"]);
}
