#include "core/error_log.h"
#include "core/job_store.h"
#include "menus/action_chooser.h"
#include "menus/file_action.h"
#include "platform/desktop_file_viewer.h"

#include "core/job_fakes.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

using namespace TestSupport;
using JobFakes::pumpUntil;
using Strings = std::vector<std::string>;

namespace {

struct FakeChooser : ActionChooser {
    std::optional<DesktopApp> application(const std::vector<DesktopApp>& apps, const std::string& message) override
    {
        asked = message, offered = apps;
        auto it = std::find_if(apps.begin(), apps.end(), [&](auto& app) {
            return app.id == pick;
        });
        return it == apps.end() ? std::nullopt : std::optional(*it);
    }
    std::optional<fs::path> folder(const std::string& message) override
    {
        asked = message;
        justBefore();
        return answer;
    }
    std::string asked, pick;
    std::vector<DesktopApp> offered;
    std::optional<fs::path> answer;
    std::function<void()> justBefore = [] {};
};

class FileActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        JobStore::shared().setJobs({});
        ActionChooser::set(chooser);
    }
    void TearDown() override
    {
        ActionChooser::set(nullptr);
        FileActions::setTerminalCandidates({});
    }
    static const std::vector<Job>& jobs() { return JobStore::shared().jobs(); }
    // Every job as "headline | failed or info | message".
    static Strings summary()
    {
        Strings lines;
        for (const auto& job : jobs())
            lines.push_back(job.sourceName + (job.state.is(Job::State::Kind::failed) ? " | failed | " : " | info | ")
                + job.state.message);
        return lines;
    }

    std::shared_ptr<FakeChooser> chooser = std::make_shared<FakeChooser>();
    JobFakes::SoundFixture sounds;
    TempDir dir;
};

// Stands in for the desktop: the file manager on the bus, and whatever opens folders.
class FakeDesktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
    QList<QUrl> opened;
public Q_SLOTS:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { shown << uris; }
    void open(const QUrl& url) { opened << url; }
};

}

TEST_F(FileActionsTest, MovesUnderFreeNamesWithoutEverReplacing)
{
    fs::create_directories(dir / "de/Pasta");
    fs::create_directories(dir / "para");
    for (const char* name :
        {"de/foto.jpg", "de/LEIA", "de/Pasta/dentro.txt", "para/foto.jpg", "para/foto 2.jpg", "para/LEIA"})
        writeFile(dir / name, name);
    const auto to = (dir / "para").string();
    chooser->answer = dir / "para";
    // Another program takes the folder's name after the choice and before the move.
    chooser->justBefore = [&] {
        fs::create_directory(dir / "para/Pasta");
    };

    FileActions::perform(
        FileAction::move, {dir / "de/foto.jpg", dir / "de/sumiu.txt", dir / "de/Pasta/", dir / "de/LEIA"});
    EXPECT_EQ(chooser->asked, "Mover 4 itens");
    EXPECT_EQ(readFile(dir / "para/foto 3.jpg"), "de/foto.jpg");
    EXPECT_EQ(readFile(dir / "para/foto.jpg"), "para/foto.jpg");
    EXPECT_EQ(readFile(dir / "para/Pasta 2/dentro.txt"), "de/Pasta/dentro.txt");
    EXPECT_TRUE(fs::is_empty(dir / "para/Pasta"));
    EXPECT_EQ(readFile(dir / "para/LEIA 2"), "de/LEIA");
    const auto why = std::error_code(ENOENT, std::generic_category()).message();
    EXPECT_EQ(
        summary(), (Strings{"Não foi possível mover sumiu.txt | failed | " + why, "Movido: 4 itens | info | " + to}));
    EXPECT_EQ(jobs()[1].state.url, dir / "para/foto 3.jpg");
    EXPECT_EQ(sounds.played().size(), 1u);
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("  Não foi possível mover sumiu.txt: " + why));

    // Into the folder that already holds it: renamed there.
    FileActions::perform(FileAction::move, {dir / "para/LEIA"});
    EXPECT_EQ(readFile(dir / "para/LEIA 3"), "para/LEIA");
    EXPECT_EQ(summary().back(), "Movido: LEIA | info | " + to);
}

TEST_F(FileActionsTest, MovesAcrossFileSystemsButNeverAFolderIntoItself)
{
    char pattern[] = "/dev/shm/brivlon-move-XXXXXX";
    const fs::path shm = mkdtemp(pattern);  // another file system than the test folder's
    fs::create_directories(shm / "Álbum/sub");
    writeFile(shm / "Álbum/sub/a.txt", "a");
    fs::create_symlink("sub/a.txt", shm / "Álbum/elo");
    chooser->answer = dir.path();
    FileActions::perform(FileAction::move, {shm / "Álbum"});
    EXPECT_EQ(readFile(dir / "Álbum/sub/a.txt"), "a");
    EXPECT_EQ(fs::read_symlink(dir / "Álbum/elo"), "sub/a.txt");
    EXPECT_TRUE(fs::is_empty(shm));  // moved away, and nothing staged left behind
    fs::remove(shm);

    // Into itself, into its own subfolder, also when spelled with "..": each attempt fails alone.
    for (const fs::path& target : {dir / "Álbum", dir / "Álbum/sub", dir / "Álbum/sub/../sub"}) {
        Chime::resetDebounce();
        chooser->answer = target;
        FileActions::perform(FileAction::move, {dir / "Álbum"});
    }
    const auto refused
        = "Não foi possível mover Álbum | failed | Uma pasta não pode ser movida para dentro dela mesma.";
    EXPECT_EQ(summary(), (Strings{"Movido: Álbum | info | " + dir.path().string(), refused, refused, refused}));
    EXPECT_EQ(sounds.played().size(), 3u);
    EXPECT_EQ(readFile(dir / "Álbum/sub/a.txt"), "a");
}

TEST_F(FileActionsTest, ZipsOnlyItemsOfOneFolder)
{
    fs::create_directories(dir / "a/sub");
    fs::create_directories(dir / "b");
    for (const char* name : {"a/x.txt", "a/y.txt", "a/z.txt", "b/w.txt"})
        writeFile(dir / name, name);
    FileActions::perform(FileAction::zip, {dir / "a/x.txt", dir / "b/w.txt"});
    EXPECT_EQ(summary(), Strings{"Não foi possível zipar | failed | Os itens precisam estar na mesma pasta."});
    EXPECT_EQ(sounds.played().size(), 1u);
    EXPECT_TRUE(ErrorLog::recent(1).ends_with("  Não foi possível zipar: Os itens precisam estar na mesma pasta."));

    JobStore::shared().setJobs({});
    FileActions::perform(FileAction::zip, {dir / "a/x.txt", dir / "a/sub/../y.txt", dir / "a/./z.txt"});
    EXPECT_TRUE(jobs().empty());  // nothing shows while the archive is made
    ASSERT_TRUE(pumpUntil([] {
        return !jobs().empty();
    }));
    EXPECT_EQ(summary(), Strings{"Zipado: 3 itens | info | Arquivos (3).zip"});
    EXPECT_EQ(jobs()[0].state.url, dir / "a/Arquivos (3).zip");
    EXPECT_TRUE(fs::exists(dir / "a/Arquivos (3).zip"));
}

TEST_F(FileActionsTest, ClipboardCarriesFilesForFileManagersAndExactPaths)
{
    auto* clipboard = QGuiApplication::clipboard();
    const auto a = QString::fromStdString((dir / "a.txt").string()),
               b = QString::fromStdString((dir / "ção b.txt").string());
    FileActions::perform(FileAction::copy, {dir / "a.txt", dir / "ção b.txt"});
    const auto* data = clipboard->mimeData();
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}));
    EXPECT_EQ(QString::fromUtf8(data->data("x-special/gnome-copied-files")),
        "copy\nfile://" + a + "\nfile://" + QString(b).replace("ção b", "%C3%A7%C3%A3o%20b"));
    EXPECT_EQ(data->text(), a + "\n" + b);

    FileActions::perform(FileAction::copyPath, {dir / "ção b.txt"});
    EXPECT_EQ(clipboard->text(), b);
    FileActions::perform(FileAction::copyPath, {dir / "a.txt", dir / "ção b.txt", dir / "Pasta/"});
    EXPECT_EQ(clipboard->text(), a + "\n" + b + "\n" + QString::fromStdString((dir / "Pasta").string()));
    EXPECT_EQ(summary(),
        (Strings{"Copiado: 2 itens | info | Cole no Finder com ⌘V.", "Caminho copiado | info | " + b.toStdString(),
            "Caminho copiado | info | 3 caminhos, um por linha"}));

    for (auto action : FileActions::all())
        FileActions::perform(action, {});
    EXPECT_EQ(jobs().size(), 3u);
    EXPECT_TRUE(sounds.played().empty());
}

TEST_F(FileActionsTest, AirDropIsUnavailableAndSaysSoInOrder)
{
    // The job first, then the sound, then the log line.
    static Strings seen;
    static auto note = [](std::string what) {
        seen.push_back(what
            + (ErrorLog::recent(1).ends_with("  AirDrop indisponível: Verifique se o AirDrop está ligado.") ? "+log"
                                                                                                            : ""));
    };
    struct Probe : Chime::Output {
        void restart(Chime::Kind, double) override { note("chime"); }
    };
    Installed<Chime::Output> probe(std::make_shared<Probe>());
    QObject context;
    JobStore::shared().subscribe(&context, [](const std::vector<Job>& list) {
        note(list.empty() ? "" : "job");
    });
    FileActions::perform(FileAction::airdrop, {dir / "a.txt", dir / "b.txt"});
    note("end");
    EXPECT_EQ(seen, (Strings{"", "job", "chime", "end+log"}));
    EXPECT_EQ(summary(), Strings{"AirDrop indisponível | failed | Verifique se o AirDrop está ligado."});
}

TEST_F(FileActionsTest, TerminalStartsTheFirstCandidateThatExistsInTheFolder)
{
    fs::create_directories(dir / "Pasta");
    fs::create_directories(dir / "bin");
    // Fake terminals note the folder they start in; "parado" cannot be run.
    for (const char* name : {"brivlon-term", "depois", "parado"})
        writeFile(dir / "bin" / name, "#!/bin/sh\npwd >> \"$0.ran\"\n");
    fs::permissions(dir / "bin/brivlon-term", fs::perms::owner_all);
    fs::permissions(dir / "bin/depois", fs::perms::owner_all);
    const std::string path = std::getenv("PATH");
    setenv("PATH", ((dir / "bin").string() + ":" + path).c_str(), 1);
    FileActions::setTerminalCandidates(
        {"/nao/existe", (dir / "bin/parado").string(), "brivlon-term", (dir / "bin/depois").string()});

    FileActions::perform(FileAction::terminal, {dir / "sem-arquivo.txt"});
    const auto ran = dir / "bin/brivlon-term.ran";
    EXPECT_TRUE(pumpUntil([&] {
        return fs::exists(ran);
    }));
    FileActions::perform(FileAction::terminal, {dir / "Pasta", dir / "sem-arquivo.txt"});
    EXPECT_TRUE(pumpUntil([&] {
        return readFile(ran).size() > dir.path().string().size() + 1;
    }));
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(readFile(ran), dir.path().string() + "\n" + (dir / "Pasta").string() + "\n");
    EXPECT_FALSE(fs::exists(dir / "bin/depois.ran"));
    EXPECT_TRUE(jobs().empty());
}

TEST_F(FileActionsTest, OpenWithOffersTheTypesApplicationsAndStartsTheChosenOne)
{
    const auto apps = fs::path(std::getenv("HOME")) / ".local/share/applications";
    fs::create_directories(apps / "brivlon");
    for (const auto& [file, lines] : std::vector<std::pair<fs::path, std::string>>{
             {"brivlon/nota.desktop",
                 "Name=Notes\nName[pt_BR]=Bloco de notas\nMimeType=text/plain;\n"
                 "Exec=/usr/bin/cp %f \""
                     + (dir / "cópia").string() + "\""},
             {"zeta.desktop", "Name=Zeta\nMimeType=text/plain;\nExec=zeta %F"},
             {"imagem.desktop", "Name=Aaa Imagem\nMimeType=image/png;\nExec=imagem %U"}})
        writeFile(apps / file, "[Desktop Entry]\nType=Application\n" + lines + "\n");
    writeFile(
        fs::path(std::getenv("HOME")) / ".config/mimeapps.list", "[Default Applications]\ntext/plain=zeta.desktop\n");
    writeFile(dir / "minha nota.txt", "nota");
    chooser->pick = "brivlon-nota.desktop";

    FileActions::perform(FileAction::openWith, {dir / "minha nota.txt"});
    EXPECT_EQ(chooser->asked, "Abrir minha nota.txt com…");
    // The user's default first, the other registered ones next, then any application for files.
    Strings offered;
    for (const auto& app : chooser->offered)
        if (app.entry.string().starts_with(apps.string()))
            offered.push_back(app.id + "=" + app.name);
    EXPECT_EQ(
        offered, (Strings{"zeta.desktop=Zeta", "brivlon-nota.desktop=Bloco de notas", "imagem.desktop=Aaa Imagem"}));
    EXPECT_TRUE(pumpUntil([&] {
        return fs::exists(dir / "cópia");
    }));
}

TEST(DesktopApps, ExecLinesBecomeArgumentListsWithoutAShell)
{
    DesktopApp app{"x.desktop", "Visor", "visor-icone", "", "/apps/x.desktop"};
    auto lines = [&](const std::string& exec) {
        app.exec = exec;
        return DesktopApps::commandLines(app, {"/a b/um.txt", "/dois.txt"});
    };
    using Lines = std::vector<Strings>;
    EXPECT_EQ(lines("visor --abrir %U"), (Lines{{"visor", "--abrir", "file:///a%20b/um.txt", "file:///dois.txt"}}));
    EXPECT_EQ(lines("visor %f"), (Lines{{"visor", "/a b/um.txt"}, {"visor", "/dois.txt"}}));
    EXPECT_EQ(lines("visor"), (Lines{{"visor", "/a b/um.txt"}, {"visor", "/dois.txt"}}));
    EXPECT_EQ(lines("\"/opt/meu visor/bin\" %i --titulo=%c %k 100%% %d \"a \\\"b\\\"\" %F"),
        (Lines{{"/opt/meu visor/bin", "--icon", "visor-icone", "--titulo=Visor", "/apps/x.desktop", "100%", "a \"b\"",
            "/a b/um.txt", "/dois.txt"}}));
}

TEST_F(FileActionsTest, RevealAsksTheFileManagerElseOpensTheFolder)
{
    QProcess daemon;
    daemon.start("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const auto address = daemon.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    auto bus = QDBusConnection::connectToBus(QString::fromUtf8(address), "fake-desktop");
    FakeDesktop desktop;
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &desktop, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    QDesktopServices::setUrlHandler("file", &desktop, "open");
    Installed<FileViewer> viewer(std::make_shared<DesktopFileViewer>());

    FileActions::perform(FileAction::reveal, {dir / "a b.txt", dir / "c.txt"});
    EXPECT_TRUE(pumpUntil([&] {
        return !desktop.shown.isEmpty();
    }));
    const auto base = QUrl::fromLocalFile(QString::fromStdString(dir.path().string())).toString();
    EXPECT_EQ(desktop.shown, (QStringList{base + "/a%20b.txt", base + "/c.txt"}));

    // Nobody answers for the file manager: the item's folder opens instead.
    bus.unregisterService("org.freedesktop.FileManager1");
    FileActions::perform(FileAction::reveal, {dir / "sub/a b.txt"});
    EXPECT_TRUE(pumpUntil([&] {
        return !desktop.opened.isEmpty();
    }));
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString((dir / "sub").string()))});
    QDesktopServices::unsetUrlHandler("file");
    QDBusConnection::disconnectFromBus("fake-desktop");
    daemon.kill();
    daemon.waitForFinished();
}

#include "file_action_test.moc"
