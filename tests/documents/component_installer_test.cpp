// The office component installer with a fabricated program archive served on the loopback
// interface: the states in their order, the one job, source fallback, the digest, the network's
// comings and goings, cancelling, the distribution's suite, and --install-components.

#include "documents/component_installer.h"
#include "documents/components.h"
#include "support/loopback_server.h"

#include "support/test_support.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace TestSupport;
using namespace std::chrono_literals;
using State = ComponentInstaller::State;
using Kind = State::Kind;

namespace {

// A relocatable program tree as the payload describes it: a top folder with program/soffice,
// a folder to trim and a link inside.
std::string fabricatedArchive(const TempDir& dir)
{
    const fs::path tree = dir / "arvore" / "LibreOffice_26.8.2";
    fs::create_directories(tree / "program");
    fs::create_directories(tree / "help" / "pt-BR");
    writeFile(tree / "program" / "soffice", "#!/bin/sh\nexit 0\n");
    fs::permissions(
        tree / "program" / "soffice", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    writeFile(tree / "help" / "pt-BR" / "ajuda.html", "ajuda");
    fs::create_symlink("soffice", tree / "program" / "soffice.bin");
    const auto archive = dir / "pacote.tar.xz";
    EXPECT_EQ(
        runProgram("/usr/bin/tar", {"-cJf", archive.string(), "-C", (dir / "arvore").string(), "LibreOffice_26.8.2"})
            .exitCode,
        0);
    return readFile(archive);
}

std::string digest(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

void answer(int socket, const std::string& status, const std::string& body)
{
    LoopbackServer::send(socket,
        "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n"
            + body);
}

struct Bench {
    TempDir dir;
    std::string archive = fabricatedArchive(dir);
    std::atomic<bool> slow{false};
    LoopbackServer server{[this](const std::string& head, int socket) {
        if (head.starts_with("GET /falta"))
            return answer(socket, "404 Not Found", "não há");
        if (!slow)
            return answer(socket, "200 OK", archive);
        // A large download trickling in, until the test lets go.
        LoopbackServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
        while (slow && LoopbackServer::send(socket, std::string(1000, 'x')))
            std::this_thread::sleep_for(20ms);
    }};
    bool systemSuite = false;
    std::vector<State> states;
    std::vector<double> progress;
    int jobsStarted = 0;
    std::vector<std::pair<int, QString>> jobsFinished;

    Bench() { FileSafety::removeTree(Components::folder()); }
    ~Bench() { FileSafety::removeTree(Components::folder()); }

    ComponentInstaller::Options options(std::vector<std::string> paths, std::string sha = {})
    {
        ComponentInstaller::Options options;
        options.payload.fileName = "pacote.tar.xz";
        options.payload.sources.clear();
        for (const auto& path : paths)
            options.payload.sources.push_back(
                QUrl(QString::fromStdString(path.starts_with("http") ? path : server.url(path))));
        options.payload.sha256 = sha.empty() ? digest(archive) : sha;
        options.retryDelay = 60s;
        options.networkReturnDelay = 50ms;
        options.download.partialFolder = dir / "parcial";
        options.systemSuite = [this] {
            return systemSuite;
        };
        options.watchNetwork = false;
        return options;
    }

    void watch(ComponentInstaller& installer)
    {
        QObject::connect(&installer, &ComponentInstaller::stateChanged, [this](const State& state) {
            states.push_back(state);
        });
        QObject::connect(&installer, &ComponentInstaller::jobStarted, [this] {
            ++jobsStarted;
        });
        QObject::connect(&installer, &ComponentInstaller::jobProgress, [this](double value) {
            progress.push_back(value);
        });
        QObject::connect(&installer, &ComponentInstaller::jobFinished, [this](int kind, const QString& message) {
            jobsFinished.emplace_back(kind, message);
        });
    }
};

bool settles(const ComponentInstaller& installer)
{
    return QTest::qWaitFor(
        [&] {
            return !installer.running();
        },
        30000);
}

}

TEST(ComponentInstaller, InstallsFromTheSecondSourceWithOneJob)
{
    Bench s;
    ComponentInstaller installer(s.options({"/falta", "/pacote"}));
    s.watch(installer);
    installer.install();
    EXPECT_EQ(installer.office().kind, Kind::downloading);
    ASSERT_TRUE(settles(installer));
    EXPECT_EQ(installer.office().kind, Kind::ready);
    ASSERT_GE(s.states.size(), 2u);
    EXPECT_EQ(s.states.front().kind, Kind::downloading);
    EXPECT_EQ(s.states[s.states.size() - 2].kind, Kind::installing);
    EXPECT_EQ(s.jobsStarted, 1);
    ASSERT_FALSE(s.progress.empty());
    EXPECT_DOUBLE_EQ(s.progress.back(), 0.9);
    EXPECT_EQ(s.jobsFinished,
        (std::vector<std::pair<int, QString>>{{ComponentInstaller::jobInfo, "Conversão de documentos pronta"}}));

    const auto app = Components::officeApp();
    EXPECT_EQ(Components::soffice(), app / "program" / "soffice");
    EXPECT_EQ(readFile(Components::officeMarker()), "26.8.2");
    EXPECT_TRUE(fs::is_symlink(app / "program" / "soffice.bin"));
    EXPECT_FALSE(fs::exists(app / "help"));
    EXPECT_FALSE(fs::exists(Components::folder() / "instalando"));
    EXPECT_FALSE(installer.retryPending());

    // A second install replaces the component and its profile.
    fs::create_directories(Components::officeProfile());
    writeFile(app / "velho", "x");
    installer.install();
    ASSERT_TRUE(settles(installer));
    EXPECT_EQ(installer.office().kind, Kind::ready);
    EXPECT_FALSE(fs::exists(app / "velho"));
    EXPECT_FALSE(fs::exists(Components::officeProfile()));
}

TEST(ComponentInstaller, FailuresSayWhyAndArmTheRetry)
{
    Bench s;
    {
        ComponentInstaller installer(s.options({"/pacote"}, std::string(64, '0')));
        s.watch(installer);
        installer.install();
        ASSERT_TRUE(settles(installer));
        EXPECT_EQ(
            installer.office(), (State{Kind::failed, 0, "o arquivo baixado não confere com a assinatura oficial."}));
        ASSERT_EQ(s.jobsFinished.size(), 1u);
        EXPECT_EQ(s.jobsFinished[0].second,
            "Não deu para preparar a conversão de documentos: o arquivo baixado não confere com a assinatura oficial.");
        EXPECT_TRUE(installer.retryPending());
        EXPECT_FALSE(fs::exists(Components::folder() / "instalando"));
        EXPECT_EQ(Components::soffice(), std::nullopt);
    }
    {
        ComponentInstaller installer(s.options({"/falta", "/falta"}));
        installer.install();
        ASSERT_TRUE(settles(installer));
        EXPECT_EQ(installer.office().kind, Kind::failed);
        EXPECT_TRUE(installer.office().message.starts_with("falha no download ("));
        EXPECT_TRUE(installer.office().message.ends_with("). Tentaremos de novo em alguns minutos."));
    }
}

TEST(ComponentInstaller, NoNetworkWaitsAndComesBack)
{
    Bench s;
    std::string closed;
    {
        LoopbackServer gone([](const std::string&, int) {});
        closed = gone.url("/pacote");
    }
    // A network failure on the first source: no second source, a wait for the network.
    ComponentInstaller installer(s.options({closed, "/pacote"}));
    s.watch(installer);
    installer.install();
    ASSERT_TRUE(settles(installer));
    EXPECT_EQ(installer.office().kind, Kind::waitingNetwork);
    EXPECT_TRUE(installer.retryPending());
    EXPECT_TRUE(s.server.requests().empty());
    // The run failed before any progress: no job.
    EXPECT_EQ(s.jobsStarted, 0);

    // Offline: install() only waits; the network's return starts a run shortly after, once.
    installer.networkChanged(false);
    installer.install();
    EXPECT_EQ(installer.office().kind, Kind::waitingNetwork);
    EXPECT_FALSE(installer.running());
    ComponentInstaller working(s.options({"/pacote"}));
    working.networkChanged(false);
    working.install();
    working.networkChanged(true);
    working.networkChanged(true);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return working.office().kind == Kind::ready;
        },
        30000));
    EXPECT_EQ(s.server.requests().size(), 1u);
}

TEST(ComponentInstaller, CancellingTheJobStopsTheDownload)
{
    Bench s;
    s.slow = true;
    ComponentInstaller installer(s.options({"/pacote"}));
    s.watch(installer);
    installer.install();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return s.jobsStarted == 1;
        },
        10000));
    // A second request while one runs changes nothing.
    installer.install();
    installer.cancelRun();
    ASSERT_TRUE(settles(installer));
    s.slow = false;
    EXPECT_EQ(installer.office().kind, Kind::notInstalled);
    EXPECT_EQ(s.jobsFinished, (std::vector<std::pair<int, QString>>{{ComponentInstaller::jobCancelled, ""}}));
    EXPECT_FALSE(installer.retryPending());
    EXPECT_EQ(s.server.requests().size(), 1u);
}

TEST(ComponentInstaller, StartStatesAndTheDistributionsSuite)
{
    Bench s;
    const auto program = Components::officeApp() / "program" / "soffice";
    fs::create_directories(program.parent_path());
    writeFile(program, "#!/bin/sh\n");
    fs::permissions(program, fs::perms::owner_all);
    writeFile(Components::officeMarker(), "26.8.2\n");
    EXPECT_EQ(ComponentInstaller(s.options({"/pacote"})).office().kind, Kind::notInstalled);
    writeFile(Components::officeMarker(), "26.8.2");
    EXPECT_EQ(ComponentInstaller(s.options({"/pacote"})).office().kind, Kind::ready);
    ::setenv("BRIVLON_NO_COMPONENTS", "1", 1);
    EXPECT_EQ(ComponentInstaller(s.options({"/pacote"})).office().kind, Kind::notInstalled);
    ::unsetenv("BRIVLON_NO_COMPONENTS");

    // Beside the distribution's LibreOffice the automatic install downloads nothing; an
    // explicit one still runs.
    FileSafety::removeTree(Components::folder());
    s.systemSuite = true;
    ComponentInstaller installer(s.options({"/pacote"}));
    installer.installIfNeeded();
    EXPECT_FALSE(installer.running());
    EXPECT_EQ(installer.office().kind, Kind::notInstalled);
    installer.install();
    ASSERT_TRUE(settles(installer));
    EXPECT_EQ(installer.office().kind, Kind::ready);
}

TEST(InstallComponentsCommand, PrintsTheOutcome)
{
    TempDir dir;
    const std::string archive = fabricatedArchive(dir);
    const std::vector<std::pair<std::string, std::string>> data = {{"XDG_DATA_HOME", (dir / "dados").string()}};
    auto with = [&](std::vector<std::pair<std::string, std::string>> extra) {
        extra.insert(extra.end(), data.begin(), data.end());
        return extra;
    };
    auto offline = runBrivlon({"--install-components", "ignorado"}, 60, with({{"BRIVLON_FORCE_OFFLINE", "1"}}));
    EXPECT_EQ(offline.exitCode, 2);
    EXPECT_EQ(offline.out, "aguardando internet\n");

    const std::string local = (dir / "pacote.tar.xz").string();
    auto wrong = runBrivlon({"--install-components"}, 60, with({{"BRIVLON_OFFICE_DMG", local}}));
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_EQ(wrong.out, "falhou: o arquivo baixado não confere com a assinatura oficial.\n");

    // A package that cannot be read says why in Portuguese, not in the network library's English.
    fs::create_directories(dir / "pasta.tar.xz");
    const std::pair<std::string, std::string> unreadable[]
        = {{"falta.tar.xz", "não foi possível encontrar “falta.tar.xz”"},
            {"pasta.tar.xz", "“pasta.tar.xz” é uma pasta, não um arquivo"}};
    for (const auto& [name, why] : unreadable) {
        auto failed = runBrivlon({"--install-components"}, 60, with({{"BRIVLON_OFFICE_DMG", (dir / name).string()}}));
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_EQ(failed.out, "falhou: falha no download (" + why + "). Tentaremos de novo em alguns minutos.\n");
    }

    auto done = runBrivlon({"--install-components"}, 60,
        with({{"BRIVLON_OFFICE_DMG", local}, {"BRIVLON_OFFICE_SHA256", digest(archive)}}));
    EXPECT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.out,
        "pronto: " + (dir / "dados" / "Brivlon" / "Componentes" / "Documentos" / "program" / "soffice").string()
            + "\n");
}
