#include "core/base/settings.h"
#include "core/jobs/job_store.h"
#include "core/state/login_item.h"
#include "shell/app_delegate.h"
#include "platform/desktop_entry.h"
#include "shell/dock_presence.h"
#include "shell/single_instance.h"
#include "shell/status_menu.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <glib.h>

#include <cstdlib>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace TestSupport;

namespace {

Job job(std::string name, Job::State state, std::optional<double> progress = std::nullopt, bool started = true)
{
    Job j;
    j.sourceName = std::move(name);
    j.target = "JPG";
    j.state = std::move(state);
    j.progress = progress;
    j.started = started;
    return j;
}

std::vector<std::string> titles(const std::vector<StatusMenu::Item>& items)
{
    std::vector<std::string> result;
    for (const auto& item : items)
        result.push_back(item.separator ? "—" : item.title);
    return result;
}

// Waits for `done`, letting Qt work meanwhile.
bool waitFor(const std::function<bool()>& done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}

TEST(StatusMenu, ListsTheNewestEightAndCancelsAnyRunning)
{
    std::vector<Job> jobs;
    for (int i = 1; i <= 12; ++i)
        jobs.push_back(job("f" + std::to_string(i), i <= 3 ? Job::State::running() : Job::State::done("/tmp/x")));
    const auto menu = StatusMenu::items(jobs, false);
    EXPECT_EQ(menu.front().title, "f12 → JPG   ✓");
    EXPECT_EQ(menu[7].title, "f5 → JPG   ✓");
    EXPECT_EQ(menu[7].job, jobs[4].id);
    // The three running jobs are not listed, yet they bring "Cancelar tudo".
    EXPECT_EQ(titles(menu),
        (std::vector<std::string>{"f12 → JPG   ✓", "f11 → JPG   ✓", "f10 → JPG   ✓", "f9 → JPG   ✓", "f8 → JPG   ✓",
            "f7 → JPG   ✓", "f6 → JPG   ✓", "f5 → JPG   ✓", "—", "Cancelar tudo", "—", "Ocultar painel de progresso",
            "—", "Abrir Brivlon", "Relatar um problema…", "Ajustes…", "—", "Sair do Brivlon"}));
    EXPECT_TRUE(menu[14].enabled && menu[15].enabled) << "the problem report and the settings are live";
    EXPECT_EQ(menu.back().action, StatusMenu::Action::quit);

    const auto one
        = StatusMenu::items({job("a", Job::State::done("/tmp/a")), job("b", Job::State::running(), 0.5)}, true);
    EXPECT_EQ(one[0].submenu.size(), 1u);
    EXPECT_EQ(one[0].submenu[0].title, "Cancelar");
    EXPECT_EQ(one[0].submenu[0].job, one[0].job);
    EXPECT_TRUE(one[1].submenu.empty());
    EXPECT_EQ(titles(one)[3], "Mostrar painel de progresso") << "no \"Cancelar tudo\" for one running job";

    const auto queued = StatusMenu::items({job("q", Job::State::running(), std::nullopt, false)}, false);
    EXPECT_EQ(queued[0].title, "q → JPG   na fila");
    EXPECT_EQ(queued[0].submenu.size(), 1u);
    EXPECT_EQ(titles(StatusMenu::items({}, false))[0], "Nada em andamento");
    EXPECT_FALSE(StatusMenu::items({}, false)[0].enabled);

    // An offered update leads, with a separator of its own.
    const auto offered = StatusMenu::items({}, false, "1.4.2");
    EXPECT_EQ(offered[0].title, "Nova versão 1.4.2 disponível — baixar");
    EXPECT_EQ(offered[0].action, StatusMenu::Action::downloadUpdate);
    EXPECT_TRUE(offered[1].separator);
    EXPECT_EQ(offered[2].title, "Nada em andamento");
}

TEST(StatusMenu, JobTitlesAndTheTrayText)
{
    EXPECT_EQ(StatusMenu::menuTitle(job("foto.heic", Job::State::running(), 0.426)), "foto.heic → JPG   42%");
    EXPECT_EQ(StatusMenu::menuTitle(job("a", Job::State::running(), 0.999)), "a → JPG   99%");
    EXPECT_EQ(StatusMenu::menuTitle(job("a", Job::State::running(), 1.0)), "a → JPG   100%");
    EXPECT_EQ(StatusMenu::menuTitle(job("a", Job::State::running())), "a → JPG   …");
    EXPECT_EQ(StatusMenu::menuTitle(job("a", Job::State::failed("x"))), "a → JPG   falhou");
    EXPECT_EQ(StatusMenu::menuTitle(job("a", Job::State::cancelled())), "a → JPG   cancelado");
    auto info = job("a", Job::State::info("Copiado"));
    info.target.clear();
    EXPECT_EQ(StatusMenu::menuTitle(info), "a   ✓");

    const std::vector<Job> two{job("a", Job::State::running(), 0.5), job("b", Job::State::running(), 0.25),
        job("c", Job::State::done("/tmp/c"))};
    EXPECT_EQ(StatusMenu::trayTitle(two), " 2 · 37%");
    EXPECT_DOUBLE_EQ(*StatusMenu::iconProgress(two), 0.37);
    const std::vector<Job> waiting{job("q", Job::State::running(), std::nullopt, false)};
    EXPECT_EQ(StatusMenu::trayTitle(waiting), " 1 · 0%");
    EXPECT_EQ(StatusMenu::iconProgress(waiting), 0.0);
    EXPECT_EQ(StatusMenu::trayTitle({two[2]}), "");
    EXPECT_FALSE(StatusMenu::iconProgress({two[2]}));
}

TEST(DockPresence, FollowsTheWindowsAndTheRunningJobs)
{
    std::vector<int> badges;
    DockPresence dock([&](int n) {
        badges.push_back(n);
    });
    std::vector<Job> jobs{job("a", Job::State::running())};
    dock.jobsChanged(jobs, false);
    EXPECT_TRUE(dock.regular());
    EXPECT_EQ(badges, std::vector<int>{1});
    jobs[0].progress = 0.4;
    dock.jobsChanged(jobs, false);
    EXPECT_EQ(badges.size(), 1u) << "progress alone sends nothing";
    jobs[0].state = Job::State::done("/tmp/a");
    dock.jobsChanged(jobs, false);
    EXPECT_FALSE(dock.regular());
    EXPECT_EQ(badges.back(), 0);
    dock.update(true, jobs);  // the main window opened
    EXPECT_TRUE(dock.regular());
    dock.update(false, jobs);
    EXPECT_FALSE(dock.regular());
}

TEST(DockPresence, TheBadgeReachesTheSessionBus)
{
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        // On a private bus of its own, so that nothing else hears it.
        const auto run = runProgram("/usr/bin/dbus-run-session",
            {"--", QCoreApplication::applicationFilePath().toStdString(),
                "--gtest_filter=DockPresence.TheBadgeReachesTheSessionBus"},
            60);
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        return;
    }
    QProcess monitor;
    monitor.start("dbus-monitor", {"--session", "type='signal',interface='com.canonical.Unity.LauncherEntry'"});
    ASSERT_TRUE(monitor.waitForStarted());
    QByteArray seen;
    // It names itself on the bus first; from then on it hears everything.
    ASSERT_TRUE(waitFor([&] {
        seen += monitor.readAllStandardOutput();
        return seen.contains("NameAcquired") || seen.contains("NameLost");
    }));
    DockPresence::sendBadge(3);
    EXPECT_TRUE(waitFor([&] {
        seen += monitor.readAllStandardOutput();
        return seen.contains("Update") && seen.contains("count-visible") && seen.contains("boolean true");
    })) << seen.toStdString();
    EXPECT_TRUE(seen.contains("application://brivlon.desktop"));
    EXPECT_TRUE(seen.contains("int64 3"));
    monitor.kill();
    monitor.waitForFinished();
}

TEST(SingleInstance, ALaterStartHandsItsFilesToTheFirst)
{
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    EXPECT_FALSE(SingleInstance::forward({}, 300)) << "nobody listens yet";

    SingleInstance first;
    std::vector<SingleInstance::Files> received;
    ASSERT_TRUE(first.listen([&](const SingleInstance::Files& files) {
        received.push_back(files);
    }));
    for (const SingleInstance::Files& files :
        {SingleInstance::Files{"/tmp/uma foto.png", "/tmp/b.mov"}, SingleInstance::Files{}}) {
        bool taken = false;
        std::thread later([&] {
            taken = SingleInstance::forward(files);
        });
        waitFor([&] {
            return received.size() == (files.empty() ? 2u : 1u);
        });
        later.join();
        EXPECT_TRUE(taken);
    }
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], (SingleInstance::Files{"/tmp/uma foto.png", "/tmp/b.mov"}));
    EXPECT_TRUE(received[1].empty());
    EXPECT_FALSE(SingleInstance::decode("open\n/tmp/a"));
    unsetenv("XDG_RUNTIME_DIR");
}

// Without a session's runtime folder the socket must not sit where another user could take its
// name first, or plant a folder or a link under it: the start would hand them its paths.
TEST(SingleInstance, WithoutARuntimeFolderTheSocketIsInAFolderOfTheUsersOwn)
{
    TempDir shared, home;
    ::chmod(shared.path().c_str(), 01777);
    unsetenv("XDG_RUNTIME_DIR");
    setenv("TMPDIR", shared.path().c_str(), 1);
    const auto realHome = QDir::homePath().toStdString();
    setenv("HOME", home.path().c_str(), 1);
    const auto own = "brivlon-" + std::to_string(::getuid());
    // Whose folder it is, where the socket ends up.
    const auto socketFolder = [&] {
        SingleInstance instance;
        EXPECT_TRUE(instance.listen([](const SingleInstance::Files&) {}));
        const auto name = SingleInstance::serverName().toStdString();
        return fs::path(name).is_absolute() ? fs::path(name).parent_path() : shared.path();
    };
    const auto isPrivate = [](const fs::path& folder) {
        struct stat status { };
        return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid()
            && (status.st_mode & 0777) == 0700;
    };
    EXPECT_TRUE(isPrivate(socketFolder()));
    EXPECT_EQ(socketFolder(), shared.path() / own);

    // Planted: a folder anyone may write into, then a link to someone's folder.
    fs::remove_all(shared.path() / own);
    fs::create_directory(shared.path() / own);
    fs::permissions(shared.path() / own, fs::perms::all);
    auto folder = socketFolder();
    EXPECT_TRUE(isPrivate(folder));
    EXPECT_NE(folder.parent_path(), shared.path()) << folder;
    EXPECT_FALSE(fs::exists(shared.path() / own / "instance"));
    fs::remove_all(shared.path() / own);
    TempDir theirs;
    fs::create_directory_symlink(theirs.path(), shared.path() / own);
    folder = socketFolder();
    EXPECT_TRUE(isPrivate(folder));
    EXPECT_TRUE(fs::is_empty(theirs.path()));

    setenv("HOME", realHome.c_str(), 1);
    unsetenv("TMPDIR");
}

// Two starts at once: the second waits for the first to take the name, then hands over to it.
// Without the lock both would listen, the second removing the first's socket.
TEST(SingleInstance, OfTwoStartsAtOnceOneListens)
{
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    std::optional<SingleInstance::StartLock> firstTurn(std::in_place);
    ASSERT_TRUE(firstTurn->held());
    std::atomic<bool> secondHasTurn = false;
    std::thread second([&] {
        SingleInstance::StartLock turn;
        secondHasTurn = turn.held();
    });
    // A start that may not wait at all shows the turn is taken; the thread's start waits.
    EXPECT_FALSE(SingleInstance::StartLock(0).held()) << "a second start went ahead during the first's";
    SingleInstance first;
    std::vector<SingleInstance::Files> received;
    ASSERT_TRUE(first.listen([&](const SingleInstance::Files& files) {
        received.push_back(files);
    }));
    firstTurn.reset();
    second.join();
    EXPECT_TRUE(secondHasTurn);

    // Even without the lock, a name somebody answers on is never taken over.
    SingleInstance late;
    EXPECT_FALSE(late.listen([](const SingleInstance::Files&) {}));
    std::thread later([] {
        SingleInstance::forward({"/tmp/a.png"});
    });
    EXPECT_TRUE(waitFor([&] {
        return received.size() == 1;
    }));
    later.join();
    unsetenv("XDG_RUNTIME_DIR");
}

// A name may hold a line feed; a connection that sends without end is dropped.
TEST(SingleInstance, NamesArriveWholeAndAFloodIsCutOff)
{
    TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    SingleInstance first;
    std::vector<SingleInstance::Files> received;
    ASSERT_TRUE(first.listen([&](const SingleInstance::Files& files) {
        received.push_back(files);
    }));
    const SingleInstance::Files odd = {"/tmp/duas\nlinhas.png", "/tmp/\n\n.mov", "/tmp/c.mp3"};
    std::thread later([&] {
        SingleInstance::forward(odd);
    });
    EXPECT_TRUE(waitFor([&] {
        return !received.empty();
    }));
    later.join();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], odd);

    std::atomic<bool> dropped = false;
    std::thread flood([&] {
        QLocalSocket socket;
        socket.connectToServer(SingleInstance::serverName());
        if (!socket.waitForConnected(2000))
            return;
        const QByteArray chunk(1 << 20, 'a');
        for (int i = 0;
             i <= SingleInstance::maxRequest / chunk.size() + 1 && socket.state() == QLocalSocket::ConnectedState;
             ++i) {
            socket.write(chunk);
            socket.waitForBytesWritten(2000);
        }
        dropped = socket.state() != QLocalSocket::ConnectedState || socket.waitForDisconnected(3000);
    });
    EXPECT_TRUE(waitFor(
        [&] {
            return dropped.load();
        },
        15000));
    flood.join();
    EXPECT_EQ(received.size(), 1u);
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(DesktopEntry, WrittenWhenMissingOrStartingAnotherProgram)
{
    const auto file = DesktopEntry::path();
    std::filesystem::remove(file);
    EXPECT_TRUE(DesktopEntry::install("/opt/brivlon/brivlon"));
    const auto text = readFile(file);
    EXPECT_NE(text.find("Exec=/opt/brivlon/brivlon %F\n"), std::string::npos);
    EXPECT_NE(text.find("MimeType=image/png;"), std::string::npos);
    EXPECT_FALSE(DesktopEntry::install("/opt/brivlon/brivlon"));
    EXPECT_TRUE(DesktopEntry::install("/home/u/meu build/brivlon"));
    EXPECT_NE(readFile(file).find("Exec=\"/home/u/meu build/brivlon\" %F\n"), std::string::npos);

    // Any folder name starts the program it names, read back as the desktop reads it: the
    // launcher's and the autostart entry's Exec split into the executable and, for the launcher,
    // the files' field code.
    for (const std::string folder : {"/opt/a$HOME", "/opt/\"aspas\"", "/opt/100%", "/opt/barra\\n", "/opt/uma\nlinha",
             "/opt/`x`;rm -rf ~", "/opt/ação #1"}) {
        SCOPED_TRACE(folder);
        const std::string executable = folder + "/brivlon";
        for (const bool launcher : {true, false}) {
            const auto text = launcher ? DesktopEntry::text(executable) : DesktopEntry::autostartText(executable);
            GKeyFile* keys = g_key_file_new();
            ASSERT_TRUE(g_key_file_load_from_data(keys, text.data(), text.size(), G_KEY_FILE_NONE, nullptr));
            gchar* exec = g_key_file_get_string(keys, "Desktop Entry", "Exec", nullptr);
            EXPECT_EQ(g_key_file_has_key(keys, "Desktop Entry", "MimeType", nullptr), launcher);
            g_key_file_free(keys);
            ASSERT_TRUE(exec);
            gchar** argv = nullptr;
            ASSERT_TRUE(g_shell_parse_argv(exec, nullptr, &argv, nullptr)) << exec;
            QString first = QString::fromUtf8(argv[0]);
            EXPECT_EQ(first.replace("%%", "%").toStdString(), executable) << exec;
            EXPECT_EQ(g_strv_length(argv), launcher ? 2u : 1u);
            if (launcher) {
                EXPECT_STREQ(argv[1], "%F");
            }
            g_strfreev(argv);
            g_free(exec);
        }
    }
}

TEST(NormalStart, WithoutADisplaySaysWhatWorksAndEnds)
{
    const auto run = runBrivlon({}, 30, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("--convert"), std::string::npos);
}

TEST(AppDelegate, TheSettingsWindowFitsTheVisibleArea)
{
    const QRectF visible(0, 30, 1440, 800);
    // Too small a saved frame starts over at 540 × 600.
    EXPECT_EQ(AppDelegate::settingsFrame({100, 100, 500, 700}, visible), QRectF(100, 100, 540, 600));
    // Taller than the area: 20 points shorter than it, its top 10 points below the area's top.
    const auto tall = AppDelegate::settingsFrame({200, 0, 540, 900}, visible);
    EXPECT_EQ(tall.height(), 780);
    EXPECT_EQ(tall.top(), 40);
    // Off to the right and below: pulled back in, 10 points from the edges.
    EXPECT_EQ(AppDelegate::settingsFrame({1300, 700, 540, 600}, visible), QRectF(1440 - 550, 830 - 610, 540, 600));
    // Wider than a small screen: 10 points to spare on either side.
    EXPECT_EQ(AppDelegate::settingsFrame({0, 30, 900, 400}, QRectF(0, 0, 600, 1000)), QRectF(10, 30, 580, 400));
}

TEST(AppDelegate, TheLoginItemIsAskedForOnceEver)
{
    struct Item final : LoginItem {
        int asked = 0;
        bool on = false;
        bool isEnabled() override { return on; }
        bool setEnabled(bool) override
        {
            ++asked;
            return false;  // the session refused
        }
    };
    auto item = std::make_shared<Item>();
    Installed<LoginItem> installed(item);
    Defaults::remove(SettingKey::loginItemConfigured);
    AppDelegate::configureLoginItemOnce();
    EXPECT_EQ(item->asked, 1);
    EXPECT_EQ(Defaults::boolean(SettingKey::loginItemConfigured), true);
    AppDelegate::configureLoginItemOnce();
    EXPECT_EQ(item->asked, 1) << "a refused or removed login item is not asked for again";
}
