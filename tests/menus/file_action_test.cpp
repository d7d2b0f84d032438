#include "core/base/error_log.h"
#include "core/base/settings.h"
#include "core/base/task.h"
#include "core/jobs/job_store.h"
#include "menus/action_chooser.h"
#include "menus/file_action.h"
#include "platform/desktop_apps.h"
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

#include <unistd.h>

using namespace TestSupport;
using Strings = std::vector<std::string>;

namespace {

struct FakeChooser : ActionChooser {
    std::optional<DesktopApp> application(const std::vector<DesktopApp>& apps, const std::string&) override
    {
        for (const auto& app : apps)  // those this test wrote, not the system's
            if (app.entry.string().starts_with(std::getenv("HOME")))
                offered.push_back(DesktopApps::label(app));
        const auto it = std::ranges::find(apps, pick, &DesktopApp::id);
        return it == apps.end() ? std::nullopt : std::optional(*it);
    }
    std::optional<fs::path> folder(const std::string&) override { return answer; }
    std::string pick;
    Strings offered;
    std::optional<fs::path> answer;
};

class FileActionsTest : public ::testing::Test {
protected:
    FileActionsTest() { JobStore::shared().setJobs({}); }
    static const std::vector<Job>& jobs() { return JobStore::shared().jobs(); }
    static Strings summary()
    {
        Strings lines;
        for (const auto& job : jobs())
            lines.push_back(job.sourceName + (job.state.is(Job::State::Kind::failed) ? " | failed | " : " | info | ")
                + job.state.message);
        return lines;
    }

    std::shared_ptr<FakeChooser> chooser = std::make_shared<FakeChooser>();
    Installed<ActionChooser> installed{chooser};
    JobFakes::SoundFixture sounds;
    TempDir dir;
};

QString text(const fs::path& path) { return QString::fromStdString(path.string()); }

class FakeDesktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList seen;  // items shown, then folders opened
public Q_SLOTS:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { seen << uris; }
    void open(const QUrl& url) { seen << url.toString(); }
};

}

TEST_F(FileActionsTest, MovesUnderFreeNamesWithoutEverReplacing)
{
    for (const char* name : {"de/foto.jpg", "de/Pasta/dentro.txt", "para/foto.jpg", "para/foto 2.jpg", "para/LEIA"})
        writeFile(dir / name, name);
    fs::create_directory(dir / "para/Pasta");  // empty: a rename would silently replace it
    chooser->answer = dir / "para";

    FileActions::perform(FileAction::move, {dir / "de/foto.jpg", dir / "de/sumiu.txt", dir / "de/Pasta/"});
    EXPECT_EQ(readFile(dir / "para/foto 3.jpg"), "de/foto.jpg");
    EXPECT_EQ(readFile(dir / "para/Pasta 2/dentro.txt"), "de/Pasta/dentro.txt");
    const auto to = (dir / "para").string(), why = std::string("Não foi possível encontrar “sumiu.txt”.");
    EXPECT_EQ(
        summary(), (Strings{"Não foi possível mover sumiu.txt | failed | " + why, "Movido: 3 itens | info | " + to}));
    EXPECT_EQ(jobs()[1].state.url, dir / "para/foto 3.jpg");

    FileActions::perform(FileAction::move, {dir / "para/LEIA"});  // into its own folder: renamed there
    EXPECT_EQ(readFile(dir / "para/LEIA 2"), "para/LEIA");
}

TEST_F(FileActionsTest, MovesAcrossFileSystemsButNeverAFolderIntoItself)
{
    char pattern[] = "/dev/shm/brivlon-move-XXXXXX";
    const fs::path shm = mkdtemp(pattern);  // another file system than the test folder's
    writeFile(shm / "Álbum/sub/a.txt", "a");
    fs::create_symlink("sub/a.txt", shm / "Álbum/elo");
    chooser->answer = dir.path();
    FileActions::perform(FileAction::move, {shm / "Álbum"});
    ASSERT_TRUE(JobFakes::pumpUntil([] {
        return !jobs().front().isRunning();
    }));
    EXPECT_EQ(readFile(dir / "Álbum/sub/a.txt"), "a");
    EXPECT_EQ(fs::read_symlink(dir / "Álbum/elo"), "sub/a.txt");
    EXPECT_TRUE(fs::remove(shm));  // throws unless moved away with nothing staged left behind

    // Into itself, into its own subfolder, also when spelled with "..": each attempt fails alone.
    for (const fs::path& target : {dir / "Álbum", dir / "Álbum/sub", dir / "Álbum/sub/../sub"}) {
        chooser->answer = target;
        FileActions::perform(FileAction::move, {dir / "Álbum"});
    }
    const auto refused
        = "Não foi possível mover Álbum | failed | Uma pasta não pode ser movida para dentro dela mesma.";
    EXPECT_EQ(summary(), (Strings{"Movido: Álbum | info | " + dir.path().string(), refused, refused, refused}));
}

// Copying a big file between file systems is a running job: the call returns at once, the row
// shows progress, and a cancel leaves the file where it was and nothing at the destination.
TEST_F(FileActionsTest, AMoveAcrossFileSystemsRunsAsAJobThatCanBeCancelled)
{
    char pattern[] = "/dev/shm/brivlon-move-XXXXXX";
    const fs::path shm = mkdtemp(pattern);
    const auto size = uintmax_t(4) << 30;  // sparse: no memory taken, and long to copy
    writeFile(shm / "grande.bin", "");
    fs::resize_file(shm / "grande.bin", size);
    fs::create_directory(dir / "para");
    chooser->answer = dir / "para";
    std::vector<double> seen;
    auto& store = JobStore::shared();
    QObject context;
    store.subscribe(&context, [&seen](const std::vector<Job>& list) {
        if (!list.empty() && list.front().isRunning() && list.front().progress)
            seen.push_back(*list.front().progress);
    });

    FileActions::perform(FileAction::move, {shm / "grande.bin"});
    ASSERT_EQ(jobs().size(), 1u);
    EXPECT_TRUE(jobs().front().isRunning() && jobs().front().started);
    EXPECT_EQ(jobs().front().sourceName, "grande.bin");
    ASSERT_TRUE(JobFakes::pumpUntil([&] {
        return !seen.empty();
    }));
    EXPECT_GT(seen.front(), 0.0);
    EXPECT_LT(seen.front(), 1.0);
    store.cancel(jobs().front().id);
    EXPECT_TRUE(JobFakes::pumpUntil([] {
        return Task::awaitDetached(std::chrono::milliseconds(0));
    }));
    EXPECT_TRUE(jobs().front().state.is(Job::State::Kind::cancelled));
    EXPECT_TRUE(fs::is_empty(dir / "para")) << "a partial copy was left";
    EXPECT_EQ(fs::file_size(shm / "grande.bin"), size);
    FileSafety::removeTree(shm);
}

TEST_F(FileActionsTest, ZipsOnlyItemsOfOneFolder)
{
    for (const char* name : {"a/x.txt", "a/y.txt", "a/z.txt", "a/sub/k.txt", "b/w.txt"})
        writeFile(dir / name, name);
    FileActions::perform(FileAction::zip, {dir / "a/x.txt", dir / "b/w.txt"});
    EXPECT_EQ(summary(), Strings{"Não foi possível zipar | failed | Os itens precisam estar na mesma pasta."});

    FileActions::perform(FileAction::zip, {dir / "a/x.txt", dir / "a/sub/../y.txt", dir / "a/./z.txt"});
    EXPECT_EQ(jobs().size(), 1u);  // nothing shows while the archive is made
    ASSERT_TRUE(JobFakes::pumpUntil([] {
        return jobs().size() == 2;
    }));
    EXPECT_EQ(summary().back(), "Zipado: 3 itens | info | Arquivos (3).zip");
    EXPECT_EQ(jobs().back().state.url, dir / "a/Arquivos (3).zip");
    // The archiver ran as every job's tools do, below a worker of the program's pool, never
    // beside the desktop.
    EXPECT_GT(JobFakes::processes("brivlon-worker"), 0);
}

TEST_F(FileActionsTest, ClipboardCarriesFilesForFileManagersAndExactPaths)
{
    const auto a = text(dir / "a.txt"), b = text(dir / "ção b.txt");
    FileActions::perform(FileAction::copy, {dir / "a.txt", dir / "ção b.txt"});
    const auto* data = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}));
    EXPECT_EQ(QString::fromUtf8(data->data("x-special/gnome-copied-files")),
        "copy\nfile://" + a + "\nfile://" + QString(b).replace("ção b", "%C3%A7%C3%A3o%20b"));
    EXPECT_EQ(data->text(), a + "\n" + b);

    FileActions::perform(FileAction::copyPath, {dir / "ção b.txt"});
    FileActions::perform(FileAction::copyPath, {dir / "a.txt", dir / "ção b.txt", dir / "Pasta/"});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), a + "\n" + b + "\n" + text(dir / "Pasta"));
    EXPECT_EQ(summary(),
        (Strings{"Copiado: 2 itens | info | Cole no gerenciador de arquivos com Ctrl+V.",
            "Caminho copiado | info | " + b.toStdString(), "Caminho copiado | info | 3 caminhos, um por linha"}));

    for (auto action : FileActions::all())
        FileActions::perform(action, {});
    EXPECT_EQ(jobs().size(), 3u);
}

TEST_F(FileActionsTest, AFailureIsAJobThenASoundThenALogLine)
{
    // An item that is not there cannot be moved; the line names it.
    static const std::string line = "  Não foi possível mover sumiu na ordem.txt: ";
    static std::pair<size_t, bool> atChime;  // jobs, and whether the line was logged
    struct Probe : Chime::Output {
        void restart(Chime::Kind, double) override
        {
            atChime = {jobs().size(), ErrorLog::recent(1).find(line) != std::string::npos};
        }
    };
    Installed<Chime::Output> probe(std::make_shared<Probe>());
    chooser->answer = dir.path();
    FileActions::perform(FileAction::move, {dir / "de/sumiu na ordem.txt"});
    EXPECT_EQ(atChime, std::pair(size_t(1), false));
    EXPECT_NE(ErrorLog::recent(1).find(line), std::string::npos) << ErrorLog::recent(1);
}

TEST_F(FileActionsTest, TerminalOpensTheChosenOneElseTheDesktopsDefaultInTheFolder)
{
    const fs::path home = std::getenv("HOME");
    const auto applications = home / ".local/share/applications";
    // Fake terminals write the words they were given into a mark in the folder they start in.
    auto terminal = [&](const std::string& id, const std::string& name) {
        const auto program = dir / "bin" / name;
        writeFile(program, "#!/bin/sh\nprintf '%s|' \"$@\" > " + name + ".ran\n");
        fs::permissions(program, fs::perms::owner_all);
        writeFile(applications / id,
            "[Desktop Entry]\nType=Application\nName=" + name + "\nCategories=System;TerminalEmulator;\nExec=\""
                + program.string() + "\" --janela %U\n");
    };
    terminal("brivlon-dois.desktop", "Dois");
    terminal("brivlon-um.desktop", "Um");
    // Neither a terminal whose program is missing nor a program of another kind is offered.
    writeFile(applications / "brivlon-sumido.desktop",
        "[Desktop Entry]\nType=Application\nName=Sumido\nCategories=TerminalEmulator;\nExec=brivlon-nenhum-programa\n");
    writeFile(applications / "brivlon-editor.desktop",
        "[Desktop Entry]\nType=Application\nName=Editor\nCategories=Utility;\nExec=" + (dir / "bin/Um").string()
            + "\n");
    // The desktop's default, as the lists of xdg-terminal-exec name it: "Um", although "Dois"
    // comes first by name.
    writeFile(home / ".config/xdg-terminals.list", "# o preferido\n\nbrivlon-sumido.desktop\nbrivlon-um.desktop\n");
    auto ours = [&] {
        Strings names;
        for (const auto& app : DesktopApps::terminals())
            if (app.entry.string().starts_with(home.string()))
                names.push_back(app.name);
        return names;
    };
    // GIO may have read the folder before: its monitor tells it of the new entries.
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return ours() == Strings{"Um", "Dois"};
    })) << testing::PrintToString(ours());
    EXPECT_EQ(DesktopApps::terminals().front().id, "brivlon-um.desktop");

    // Another system's stored name is no choice: the default opens, in the file's folder.
    Defaults::set(SettingKey::terminalApp, QString("iTerm"));
    FileActions::perform(FileAction::terminal, {dir / "sem-arquivo.txt"});
    Defaults::set(SettingKey::terminalApp, QString("brivlon-dois.desktop"));
    FileActions::perform(FileAction::terminal, {dir / "bin", dir / "sem-arquivo.txt"});
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return fs::exists(dir / "Um.ran") && fs::exists(dir / "bin/Dois.ran");
    }));
    EXPECT_EQ(readFile(dir / "Um.ran"), "--janela|") << "field codes stand for nothing here";
    EXPECT_FALSE(fs::exists(dir / "Dois.ran") || fs::exists(dir / "bin/Um.ran"));

    // Without a list, the terminal $TERMINAL names leads; without that, the one Debian's
    // alternative leads to, through the wrapper script it may name.
    fs::remove(home / ".config/xdg-terminals.list");
    setenv("TERMINAL", (dir / "bin/Dois").c_str(), 1);
    EXPECT_EQ(ours(), (Strings{"Dois", "Um"}));
    unsetenv("TERMINAL");
    writeFile(dir / "alternativas/Um.wrapper", "#!/bin/sh\n");
    fs::permissions(dir / "alternativas/Um.wrapper", fs::perms::owner_all);
    fs::create_symlink(dir / "alternativas/Um.wrapper", dir / "alternativas/x-terminal-emulator");
    const std::string path = std::getenv("PATH");
    setenv("PATH", ((dir / "alternativas").string() + ":" + path).c_str(), 1);
    EXPECT_EQ(ours(), (Strings{"Um", "Dois"}));
    setenv("PATH", path.c_str(), 1);
    Defaults::remove(SettingKey::terminalApp);
}

TEST_F(FileActionsTest, OpenWithOffersTheTypesApplicationsAndStartsTheChosenOne)
{
    const fs::path home = std::getenv("HOME");
    auto entry = [&](const char* file, const std::string& lines) {
        writeFile(home / ".local/share/applications" / file, "[Desktop Entry]\nType=Application\n" + lines + "\n");
    };
    entry("brivlon/nota.desktop",
        "Name=Notes\nName[pt_BR]=Bloco de notas\nMimeType=text/plain;\nExec=/usr/bin/cp %f "
            + (dir / "cópia").string());
    entry("zeta.desktop", "Name=Zeta\nMimeType=text/plain;\nExec=true %F");
    entry("imagem.desktop", "Name=Aaa Imagem\nMimeType=image/png;\nExec=true %U");
    entry("sumido.desktop", "Name=Sumido\nMimeType=text/plain;\nExec=brivlon-nenhum-programa %F");
    // Two file managers of one name, told apart by their comments, and this program, which never
    // offers itself, under the name it installs and under another.
    entry("arquivos-um.desktop", "Name=Arquivos\nComment=Gerenciador de arquivos\nExec=true %U");
    entry("arquivos-dois.desktop", "Name=Arquivos\nComment=Navegador de pastas\nExec=true %F");
    entry("brivlon.desktop", "Name=Brivlon\nMimeType=text/plain;\nExec=true %F");
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    entry("outro-brivlon.desktop", std::string("Name=Conversor\nMimeType=text/plain;\nExec=") + self + " %F");
    // The types' index, as update-desktop-database leaves it, and the user's choice.
    writeFile(home / ".local/share/applications/mimeinfo.cache",
        "[MIME Cache]\ntext/plain=brivlon-nota.desktop;sumido.desktop;zeta.desktop;\nimage/png=imagem.desktop;\n");
    writeFile(home / ".config/mimeapps.list", "[Default Applications]\ntext/plain=zeta.desktop\n");
    writeFile(dir / "minha nota.txt", "nota");
    chooser->pick = "brivlon-nota.desktop";

    FileActions::perform(FileAction::openWith, {dir / "minha nota.txt"});
    // The user's default first, the other registered ones next, then any application for files;
    // nothing whose program is missing.
    // (Namesakes stand in the desktop's order.)
    if (chooser->offered.size() == 5)
        std::sort(chooser->offered.begin() + 3, chooser->offered.end());
    EXPECT_EQ(chooser->offered, (Strings{"Zeta", "Bloco de notas", "Aaa Imagem", "Arquivos — Gerenciador de arquivos",
                                    "Arquivos — Navegador de pastas"}));
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return fs::exists(dir / "cópia");
    }));
}

TEST_F(FileActionsTest, ExecLinesBecomeArgumentListsWithoutAShell)
{
    // The program writes one line per run: its arguments, each followed by "|".
    const auto program = dir / "meu visor/bin";
    writeFile(program,
        "#!/bin/sh\nline=$(printf '%s|' \"$@\")\nprintf '%s\\n' \"$line\" >> '" + (dir / "runs").string() + "'\n");
    fs::permissions(program, fs::perms::owner_all);
    auto runs = [&](const std::string& exec, size_t count) {
        fs::remove(dir / "runs");
        const auto entry = dir / "visor.desktop";
        writeFile(entry, "[Desktop Entry]\nType=Application\nName=Visor\nIcon=visor-icone\nExec=" + exec + "\n");
        DesktopApps::open({"visor.desktop", "Visor", "visor-icone", entry}, {"/a b/um.txt", "/dois.txt"});
        JobFakes::pumpUntil([&] {
            return size_t(std::ranges::count(readFile(dir / "runs"), '\n')) >= count;
        });
        auto lines = QString::fromStdString(readFile(dir / "runs")).split('\n', Qt::SkipEmptyParts);
        lines.sort();
        return lines.join('\n').toStdString();
    };
    const auto quoted = "\"" + program.string() + "\"";
    // Local files go by path also where URIs are taken.
    EXPECT_EQ(runs(quoted + " --abrir %U", 1), "--abrir|/a b/um.txt|/dois.txt|");
    EXPECT_EQ(runs(quoted + " %f", 2), "/a b/um.txt|\n/dois.txt|");
    EXPECT_EQ(runs(quoted + " %i --titulo=%c %k 100%% \"a \\\\\"b\\\\\"\" %F", 1),
        "--icon|visor-icone|--titulo=Visor|" + (dir / "visor.desktop").string()
            + "|100%|a \"b\"|/a b/um.txt|/dois.txt|");
}

TEST_F(FileActionsTest, RevealAsksTheFileManagerElseOpensTheFolder)
{
    QProcess daemon;
    daemon.start("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const auto address = daemon.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    auto bus = QDBusConnection::connectToBus(QString::fromUtf8(address), "fake-desktop");
    FakeDesktop desktop;
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &desktop, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    QDesktopServices::setUrlHandler("file", &desktop, "open");
    Installed<FileViewer> viewer(std::make_shared<DesktopFileViewer>());

    FileActions::perform(FileAction::reveal, {dir / "a b.txt", dir / "c.txt"});
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return !desktop.seen.isEmpty();
    }));

    // Nobody answers for the file manager: the item's folder opens instead.
    bus.unregisterService("org.freedesktop.FileManager1");
    FileActions::perform(FileAction::reveal, {dir / "sub/a b.txt"});
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return desktop.seen.size() > 2;
    }));
    const auto base = QUrl::fromLocalFile(text(dir.path())).toString();
    EXPECT_EQ(desktop.seen, (QStringList{base + "/a%20b.txt", base + "/c.txt", base + "/sub"}));
    QDesktopServices::unsetUrlHandler("file");
    daemon.close();
}

#include "file_action_test.moc"
