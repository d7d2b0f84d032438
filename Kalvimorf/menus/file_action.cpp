#include "menus/file_action.h"

#include "core/base/raw_values.h"

#include "core/base/catalog.h"
#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/settings.h"
#include "core/base/task.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "core/jobs/worker_pool.h"
#include "core/state/file_viewer.h"
#include "menus/action_chooser.h"
#include "platform/desktop_apps.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace FileActions {

namespace {

using Paths = std::vector<fs::path>;

// A dropped folder may come with a trailing separator; its name is the component before it.
fs::path plain(const fs::path& file)
{
    return file.has_filename() || file == file.root_path() ? file : file.parent_path();
}

fs::path cleaned(const fs::path& file) { return plain(fs::absolute(file).lexically_normal()); }

// The store reacts to the outcome (the failure sound, the error log) as to any job's.
void report(const std::string& headline, Job::State state)
{
    Job job;
    job.sourceName = headline;
    job.state = std::move(state);
    JobStore::shared().report(std::move(job));
}

void fail(const std::string& headline, const std::string& message) { report(headline, Job::State::failed(message)); }

QString text(const fs::path& path) { return QString::fromStdString(path.string()); }

void openWith(const Paths& files, const std::string& name)
{
    const auto chooser = ActionChooser::shared();
    const auto app
        = chooser ? chooser->application(DesktopApps::forFiles(files), "Abrir " + name + " com…") : std::nullopt;
    if (app)
        DesktopApps::open(*app, files);
}

void zip(const Paths& files, const std::string& name)
{
    const fs::path folder = cleaned(files.front()).parent_path();
    const bool oneFolder = std::all_of(files.begin(), files.end(), [&](const auto& file) {
        return cleaned(file).parent_path() == folder;
    });
    if (!oneFolder) {
        fail("Não foi possível zipar", "Os itens precisam estar na mesma pasta.");
        return;
    }
    // The archiver may take long; the job list is only touched back on the main thread. It reads
    // whatever the folder holds, so it runs as every job does: in a worker, under its limits.
    Task::detach(Task::newJob(), [files, name] {
        try {
            Request request;
            request.op = Request::Op::archive;
            request.sources = files;
            request.format = OutputFormat{"zip", "ZIP", false};
            const auto archive = inWorkers(WorkerPool::shared())(request, {});
            MainThread::post([archive, name] {
                report("Zipado: " + name, Job::State::info(archive.filename().string(), archive));
            });
        } catch (const std::exception& error) {
            MainThread::post([message = describeError(error)] {
                fail("Não foi possível zipar", message);
            });
        }
    });
}

// `destination` is `item` or lies inside it.
bool within(const fs::path& destination, const fs::path& item)
{
    std::error_code error;
    auto resolved = [&](const fs::path& path) {
        auto real = fs::weakly_canonical(path, error);
        return error ? cleaned(path) : plain(real);
    };
    const auto inner = resolved(destination), outer = resolved(item);
    return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
}

// "foto.jpg", then "foto 2.jpg", "foto 3.jpg"…; "Pasta", then "Pasta 2".
FileSafety::NameFor freeNames(const fs::path& folder, const fs::path& name)
{
    return [folder, name](long long n) {
        if (n < 2)
            return folder / name;
        return folder / (name.stem().string() + " " + std::to_string(n) + name.extension().string());
    };
}

struct Failure {
    std::string headline;
    std::string message;
};

// Moves the items one after another; an item that fails is told to `failed` and the others go
// on. Returns where the first item moved landed. A cancelled task stops it with
// CancellationError, the item being copied left whole where it was.
std::optional<fs::path> moveAll(const Paths& items, const fs::path& destination, const Progress& progress,
    const std::function<void(Failure)>& failed)
{
    std::optional<fs::path> firstMoved;
    for (size_t i = 0; i < items.size(); ++i) {
        const auto& item = items[i];
        Progress share;
        if (progress)
            share = [&progress, i, count = double(items.size())](double value) {
                progress((double(i) + value) / count);
            };
        try {
            std::error_code error;
            if (fs::is_directory(fs::symlink_status(item, error)) && within(destination, item))
                throw std::runtime_error("Uma pasta não pode ser movida para dentro dela mesma.");
            const auto placed = FileSafety::placeFree(item, freeNames(destination, item.filename()), share);
            if (!firstMoved)
                firstMoved = placed;
        } catch (const CancellationError&) {
            throw;
        } catch (const std::exception& error) {
            failed({"Não foi possível mover " + item.filename().string(), describeError(error)});
        }
    }
    return firstMoved;
}

// A move within one file system is a rename; any other copies the data.
bool renamesOnly(const Paths& items, const fs::path& destination)
{
    struct stat folder;
    if (::stat(destination.c_str(), &folder) != 0)
        return true;  // the move itself reports the failure
    return std::all_of(items.begin(), items.end(), [&](const fs::path& item) {
        struct stat info;
        return ::lstat(item.c_str(), &info) != 0 || info.st_dev == folder.st_dev;
    });
}

// Copying may take minutes: it runs as a job of its own, with progress and a cancel, and the
// row becomes the outcome when it ends.
void moveInBackground(const Paths& items, const fs::path& destination, const std::string& name)
{
    auto& store = JobStore::shared();
    const QUuid id = store.add(name, destination.filename().string());
    auto context = Task::newJob();
    store.setCanceler(id, [token = context.cancel] {
        token->cancel();
    });
    store.markStarted(id);
    Task::detach(std::move(context), [id, items, destination, name] {
        const Progress relay = [id](double value) {
            MainThread::post([id, value] {
                JobStore::shared().setProgress(id, value);
            });
        };
        std::vector<Failure> failures;
        std::optional<fs::path> firstMoved;
        try {
            firstMoved = moveAll(items, destination, relay, [&failures](Failure failure) {
                failures.push_back(std::move(failure));
            });
        } catch (const CancellationError&) {
        }
        MainThread::post([id, destination, name, firstMoved, failures]() mutable {
            auto& store = JobStore::shared();
            if (!firstMoved && !failures.empty()) {
                // Nothing moved: the job's own row tells the last failure.
                auto last = std::move(failures.back());
                failures.pop_back();
                for (const auto& failure : failures)
                    fail(failure.headline, failure.message);
                store.finish(id, Job::State::failed(last.message), last.headline);
                return;
            }
            for (const auto& failure : failures)
                fail(failure.headline, failure.message);
            if (firstMoved)
                store.finish(id, Job::State::info(destination.string(), firstMoved), "Movido: " + name);
            else
                store.finish(id, Job::State::cancelled());
        });
    });
}

void move(const Paths& files, const std::string& name)
{
    const auto chooser = ActionChooser::shared();
    const auto destination = chooser ? chooser->folder("Mover " + name) : std::nullopt;
    if (!destination)
        return;
    Paths items;
    for (const auto& file : files)
        items.push_back(cleaned(file));
    if (!renamesOnly(items, *destination)) {
        moveInBackground(items, *destination, name);
        return;
    }
    const auto firstMoved = moveAll(items, *destination, {}, [](const Failure& failure) {
        fail(failure.headline, failure.message);
    });
    if (firstMoved)
        report("Movido: " + name, Job::State::info(destination->string(), firstMoved));
}

// File managers paste files from a URI list; the GNOME family wants its own copy/cut flavour.
void copy(const Paths& files, const std::string& name)
{
    QList<QUrl> list;
    QStringList uris{QStringLiteral("copy")}, paths;
    for (const auto& file : files) {
        list << QUrl::fromLocalFile(text(plain(file)));
        uris << list.back().toString(QUrl::FullyEncoded);
        paths << text(plain(file));
    }
    auto* data = new QMimeData;
    data->setUrls(list);
    data->setData(QStringLiteral("x-special/gnome-copied-files"), uris.join('\n').toUtf8());
    data->setText(paths.join('\n'));
    QGuiApplication::clipboard()->setMimeData(data);
    report("Copiado: " + name, Job::State::info("Cole no gerenciador de arquivos com Ctrl+V."));
}

void copyPath(const Paths& files)
{
    QStringList paths;
    for (const auto& file : files)
        paths << text(plain(file));
    QGuiApplication::clipboard()->setText(paths.join('\n'));
    report("Caminho copiado",
        Job::State::info(files.size() == 1 ? paths.front().toStdString()
                                           : std::to_string(files.size()) + " caminhos, um por linha"));
}

void terminal(const fs::path& first)
{
    const auto item = plain(first);
    const auto folder = Catalog::isPlainFolder(item) ? item : item.parent_path();
    // The one chosen in the settings, else the desktop's own; a stored name of another system's
    // terminal ("Terminal", "iTerm") counts as no choice.
    if (const auto chosen = DesktopApps::terminal(DesktopApps::terminals(), Defaults::text(SettingKey::terminalApp)))
        DesktopApps::openTerminal(*chosen, folder);
    // Without desktop entries, the terminal Debian's alternatives name.
    else if (const auto program = DesktopApps::findProgram("x-terminal-emulator"); !program.empty())
        QProcess::startDetached(QString::fromStdString(program), {}, text(folder));
}

}

namespace {
// In the order the cards show them.
struct ActionRow {
    FileAction value;
    std::string_view label;
    std::string_view detail;
};
constexpr EnumTable<ActionRow, 7> actions{{{
    {FileAction::openWith, "ABRIR COM…", "Abrir com outro app"},
    {FileAction::zip, "ZIPAR", "Compactar em .zip"},
    {FileAction::move, "MOVER PARA…", "Mover para outra pasta"},
    {FileAction::copy, "COPIAR", "Copiar para colar no gerenciador de arquivos"},
    {FileAction::copyPath, "CAMINHO", "Copiar o caminho"},
    {FileAction::reveal, "NA PASTA", "Mostrar no gerenciador de arquivos"},
    {FileAction::terminal, "TERMINAL", "Abrir a pasta no Terminal"},
}}};
}

const std::vector<FileAction>& all()
{
    static const std::vector<FileAction> list = actions.values();
    return list;
}

std::string label(FileAction action) { return std::string(actions[action].label); }
std::string detail(FileAction action) { return std::string(actions[action].detail); }

std::string selectionName(const std::vector<fs::path>& files)
{
    if (files.size() != 1)
        return std::to_string(files.size()) + " itens";
    return plain(files.front()).filename().string();
}

void perform(FileAction action, const std::vector<fs::path>& files)
{
    if (files.empty())
        return;
    const auto name = selectionName(files);
    switch (action) {
    case FileAction::openWith: openWith(files, name); break;
    case FileAction::zip: zip(files, name); break;
    case FileAction::move: move(files, name); break;
    case FileAction::copy: copy(files, name); break;
    case FileAction::copyPath: copyPath(files); break;
    case FileAction::reveal:
        if (auto viewer = FileViewer::shared())
            viewer->reveal(files);
        break;
    case FileAction::terminal: terminal(files.front()); break;
    }
}

}
