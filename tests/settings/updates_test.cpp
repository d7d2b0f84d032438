#include "support/loopback_server.h"
#include "settings/updates.h"
#include "support/fakes.h"
#include "support/test_support.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Decimal = Updates::Decimal;
using Release = Updates::Release;

Decimal exact(const char* rational)
{
    Decimal value(rational);
    value.canonicalize();
    return value;
}

Release release(const QString& version, const QString& download = "https://brivlon.example/baixar",
    std::optional<QString> minimum = std::nullopt)
{
    return {.versao = version, .download = download, .macosMinimo = std::move(minimum)};
}

// Points the checker at `url` and runs one check to its end.
void checkAt(const std::string& url, bool userInitiated = false)
{
    qputenv("BRIVLON_UPDATES_URL", QByteArray::fromStdString(url));
    auto& updates = Updates::shared();
    ASSERT_FALSE(updates.checking());
    updates.check(userInitiated);
    ASSERT_TRUE(updates.checking());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !updates.checking();
        },
        10000));
}

const std::string manifest = R"({"versoes": [
  {"versao": "9.1", "download": "https://brivlon.example/9.1", "notas": "Mais rápido.", "extra": [1, 2]},
  {"versao": "9.0.5", "download": "https://brivlon.example/9.0.5", "data": null}
]})";

}

TEST(UpdatesTest, VersionValuesAreExactDecimals)
{
    const std::vector<std::pair<QString, Decimal>> cases{
        {"2", 2},
        {"1.4", exact("7/5")},
        {"1.2.3", exact("123/100")},
        {"1.2.3.4", exact("3076/2500")},  // 1.2304
        {"1.10", exact("11/10")},
        {"1..2", exact("6/5")},
        {"1.2.300", exact("21/5")},  // 1.2 + 3
        {"1.2.x.5", exact("2401/2000")},  // 1.2005: a third piece that is no integer counts 0
        {"-1.5", exact("-3/2")},
        {"", 0},
        {"...", 0},
        {"v1.2", 0},
        {"1a.2", 0},
        {"12345678901234567890.1", exact("123456789012345678901/10")},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(Updates::number(text), value) << text.toStdString();
    EXPECT_LT(Updates::number("1.10"), Updates::number("1.9"));
    EXPECT_EQ(Updates::number("1.2.3"), Updates::number("1.23"));
}

TEST(UpdatesTest, SelectionKeepsTheNewestThatSuits)
{
    const Decimal macos1304 = exact("1304/100");
    // A minimum of 13.4 is above 13.04 and is skipped there; on 14 it is met.
    const std::vector<Release> minimum{release("2.0", "https://a.example/2", "13.4")};
    EXPECT_FALSE(Updates::select(minimum, 1, macos1304));
    EXPECT_EQ(Updates::select(minimum, 1, Decimal(14)), minimum.front());
    EXPECT_TRUE(Updates::select({release("2.0", "https://a.example", "13")}, 1, Decimal(13)));
    EXPECT_TRUE(Updates::select({release("2.0", "https://a.example", "treze")}, 1, macos1304));
    // Without a system value no minimum binds.
    EXPECT_TRUE(Updates::select({release("2.0", "https://a.example", "99")}, 1, std::nullopt));

    // Equal values: the first in the manifest wins, whatever the text.
    const auto tie = Updates::select(
        {release("1.3", "https://a.example/first"), release("1.3.0", "https://a.example/second")}, 1, std::nullopt);
    ASSERT_TRUE(tie);
    EXPECT_EQ(tie->download, "https://a.example/first");
    const auto newest = Updates::select({release("1.5"), release("3.0"), release("2.0")}, 1, std::nullopt);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->versao, "3.0");

    EXPECT_FALSE(Updates::select({release("1.10")}, Updates::number("1.9"), std::nullopt));
    EXPECT_TRUE(Updates::select({release("1.2.3")}, Updates::number("1.2"), std::nullopt));
    EXPECT_FALSE(Updates::select({release("1.0")}, Updates::number("1.0"), std::nullopt));
    EXPECT_FALSE(Updates::select({release("5.0", "")}, 1, std::nullopt));
    // "Baixar" hands the address to the desktop: only a secure page is offered, never a script,
    // a local file or a plain-text download that a network in between could change.
    for (const char* address : {"javascript:alert(1)", "file:///etc/passwd", "http://a.example/9",
             "ftp://a.example/9", "https:///sem-host", "/baixar", "https://a b.example"})
        EXPECT_FALSE(Updates::select({release("5.0", address)}, 1, std::nullopt)) << address;
    const auto secure = Updates::select({release("5.0", "file:///x"), release("4.0", "https://a.example/4")}, 1, std::nullopt);
    ASSERT_TRUE(secure);
    EXPECT_EQ(secure->versao, "4.0");
    EXPECT_FALSE(Updates::select({}, 1, std::nullopt));
}

TEST(UpdatesTest, ManifestDecodingIsStrict)
{
    const auto releases = Updates::decode(QByteArray::fromStdString(manifest));
    ASSERT_EQ(releases.size(), 2u);
    EXPECT_EQ(releases[0].notas, "Mais rápido.");
    EXPECT_FALSE(releases[1].data);

    for (const char* bad : {
             R"({"versoes": [{"versao": "2.0"}]})",
             R"({"versoes": [{"versao": 2.0, "download": "https://a.example"}]})",
             R"({"versoes": [{"versao": "2.0", "download": "https://a.example", "data": 20250101}]})",
             R"({"versoes": [{"versao": "2.0", "download": "https://a.example"}, 3]})",
             R"({"versions": []})",
             R"({"versoes": {}})",
             R"([])",
             "not json",
         })
        EXPECT_THROW(Updates::decode(bad), Updates::ManifestError) << bad;
}

TEST(UpdatesTest, ChecksAgainstALoopbackServer)
{
    auto& updates = Updates::shared();
    {
        LoopbackServer server(LoopbackServer::json(manifest));
        checkAt(server.url());
        ASSERT_TRUE(updates.update());
        EXPECT_EQ(updates.update()->versao, "9.1");
        EXPECT_TRUE(updates.lastCheck());
        EXPECT_EQ(server.header("User-Agent"), "Brivlon/" + Updates::currentVersion().toStdString() + " (Linux)");
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(server.requests().front().rfind("GET /atualizacoes.json ", 0), 0u);
    }
    // A 404 is a failure even with a valid body, and so is a bad manifest: the offer stays, the
    // time of the check moves on.
    for (const auto& answer : {LoopbackServer::json(R"({"versoes": []})", 404),
             LoopbackServer::json(R"({"versoes": [{"versao": "9.9"}]})")}) {
        LoopbackServer server(answer);
        const auto before = *updates.lastCheck();
        QTest::qWait(2);
        checkAt(server.url());
        ASSERT_TRUE(updates.update());
        EXPECT_EQ(updates.update()->versao, "9.1");
        EXPECT_GT(*updates.lastCheck(), before);
    }
    // A manifest far larger than any real one is refused without being read into memory.
    {
        std::string huge = R"({"versoes": [{"versao": "9.9", "download": "https://a.example/9.9", "notas": ")";
        huge += std::string(3 << 20, 'x') + R"("}]})";
        LoopbackServer server(LoopbackServer::json(huge));
        checkAt(server.url());
        ASSERT_TRUE(updates.update());
        EXPECT_EQ(updates.update()->versao, "9.1");
    }
    // A version of 100,000 pieces (200 KB, well under the bound) is no version, so nothing is
    // offered, and the
    // interface thread keeps turning while the manifest is read: a timer of 50 ms never waits
    // four times as long.
    {
        std::string pieces = "9";
        for (int piece = 0; piece < 100000; ++piece)
            pieces += ".1";
        LoopbackServer server(LoopbackServer::json(
            R"({"versoes": [{"versao": ")" + pieces + R"(", "download": "https://a.example/muitas"}]})"));
        QElapsedTimer clock, gap;
        qint64 longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, gap.restart());
        });
        clock.start();
        gap.start();
        tick.start(50);
        checkAt(server.url());
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_LT(longest, 200);
        EXPECT_FALSE(updates.update());
    }
    // A successful check with nothing newer takes the offer away.
    LoopbackServer older(LoopbackServer::json(R"({"versoes": [{"versao": "0.9", "download": "https://a.example"}]})"));
    checkAt(older.url());
    EXPECT_FALSE(updates.update());
}

TEST(UpdatesTest, ASecondCheckWhileOneRunsDoesNothing)
{
    auto alerts = std::make_shared<Fakes::Alerts>();
    TestSupport::Installed<Alert::Presenter> presenter(alerts);
    auto server = std::make_unique<LoopbackServer>("");
    qputenv("BRIVLON_UPDATES_URL", QByteArray::fromStdString(server->url()));
    auto& updates = Updates::shared();
    QSignalSpy changes(&updates, &Updates::changed);
    updates.check(false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return server->requests().size() == 1;
        },
        5000));
    updates.check(true);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(updates.checking());

    // While the fetch waits, the main thread keeps its pace.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    ticks.start(4);
    EXPECT_FALSE(QTest::qWaitFor(
        [&] {
            return !updates.checking();
        },
        500));
    ticks.stop();
    // The figure that counts is printed. A fetch that held the main thread would hold it for the
    // whole half second; the bound only leaves room for a loaded test machine.
    EXPECT_LT(longest, 300);
    std::printf("longest main-thread gap while a fetch waits: %lld ms\n", static_cast<long long>(longest));

    // The server going away ends the one fetch; the user-initiated call was never made.
    server.reset();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !updates.checking();
        },
        5000));
    EXPECT_TRUE(alerts->asked.empty());
}

TEST(UpdatesTest, AFileManifestIsTakenWithoutAStatus)
{
    TestSupport::TempDir dir;
    TestSupport::writeFile(dir / "m.json", manifest);
    checkAt("file://" + (dir / "m.json").string());
    ASSERT_TRUE(Updates::shared().update());
    EXPECT_EQ(Updates::shared().update()->versao, "9.1");
}

TEST(UpdatesTest, UserInitiatedChecksTellTheOutcome)
{
    auto alerts = std::make_shared<Fakes::Alerts>();
    alerts->answer = 1;  // "Depois"
    TestSupport::Installed<Alert::Presenter> presenter(alerts);
    TestSupport::TempDir dir;
    TestSupport::writeFile(dir / "m.json", manifest);
    checkAt("file://" + (dir / "m.json").string(), true);
    ASSERT_EQ(alerts->asked.size(), 1u);
    EXPECT_EQ(alerts->asked[0].message, "Brivlon 9.1 disponível");
    EXPECT_EQ(alerts->asked[0].informative,
        "Mais rápido.\n\nVocê está na versão " + Updates::displayVersion().toStdString() + ".");
    EXPECT_EQ(alerts->asked[0].buttons, (std::vector<std::string>{"Baixar no site", "Depois"}));

    TestSupport::writeFile(dir / "none.json", R"({"versoes": []})");
    checkAt("file://" + (dir / "none.json").string(), true);
    ASSERT_EQ(alerts->asked.size(), 2u);
    EXPECT_EQ(alerts->asked[1].message, "Você já tem a versão mais recente");

    checkAt("http://127.0.0.1:" + std::to_string(closedPort()) + "/x", true);
    ASSERT_EQ(alerts->asked.size(), 3u);
    EXPECT_EQ(alerts->asked[2].message, "Não foi possível procurar atualizações");
    EXPECT_TRUE(alerts->asked[2].buttons.empty());
}

TEST(UpdatesTest, DisplayVersion)
{
    EXPECT_EQ(Updates::displayVersion("1.4.2", "beta"), "1.4.2 beta");
    EXPECT_EQ(Updates::displayVersion("1.4.2", ""), "1.4.2");
    EXPECT_EQ(Updates::displayVersion("", ""), "1.0");
    EXPECT_EQ(Updates::displayVersion("", "beta"), "1.0 beta");
}

TEST(UpdatesTest, ManifestAddressFallsBackToTheSite)
{
    qputenv("BRIVLON_UPDATES_URL", "not an address");
    EXPECT_EQ(Updates::manifestURL().scheme(), "https");
    EXPECT_EQ(Updates::manifestURL().path(), "/atualizacoes.json");
    qputenv("BRIVLON_UPDATES_URL", "file:///tmp/m.json");
    EXPECT_EQ(Updates::manifestURL(), QUrl("file:///tmp/m.json"));
}
