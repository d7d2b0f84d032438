#include "documents/office_engine.h"

#include "core/base/app_paths.h"
#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/jobs/job_process.h"
#include "core/state/office_events.h"
#include "documents/components.h"
#include "documents/docx_fonts.h"
#include "documents/office_fields.h"
#include "documents/text_file.h"

#include <QUrl>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string_view>

namespace OfficeEngine {

namespace {

// The run's own folder in the system's temporary directory, "brivlon-" and a new UUID, removed
// with everything in it however the run ends.
class RunFolder {
public:
    RunFolder()
    {
        const fs::path base = fs::temp_directory_path();
        path_ = base / ("brivlon-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString());
        if (::mkdir(path_.c_str(), 0700) != 0)
            FileSafety::throwErrno(path_);
    }
    ~RunFolder() { FileSafety::removeTree(path_); }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// One suite run at a time for the user, across every process of the program: the component's
// profile and its font folder are shared, and each job runs in a worker process of its own.
class SuiteGate {
public:
    SuiteGate()
    {
        const fs::path folder = AppPaths::stateDir();
        std::error_code ignored;
        fs::create_directories(folder, ignored);
        const fs::path lock = folder / "documentos.trava";
        fd_ = FileSafety::Fd(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd_)
            while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) { }
    }
    ~SuiteGate()
    {
        if (fd_)
            ::flock(fd_.get(), LOCK_UN);
    }
    SuiteGate(const SuiteGate&) = delete;
    SuiteGate& operator=(const SuiteGate&) = delete;

private:
    FileSafety::Fd fd_;
};

bool isExecutableFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<fs::path> onPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    if (!path)
        return std::nullopt;
    std::string_view rest(path);
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const fs::path folder(std::string(rest.substr(0, colon)));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.is_absolute() && isExecutableFile(folder / name))
            return folder / name;
    }
    return std::nullopt;
}

std::atomic<bool> warnedSimple{false};

// What a document may make the suite do on its own is shut in its profile, which the suite reads
// at start: a linked picture or section (a local path, an http address) would be fetched and
// drawn into the PDF, handing the reader's files to the sender or telling the sender who opened
// the document and when. The referer block keeps every link of a document outside the trusted
// places (there are none) from loading; links are never updated when loading (Writer's 0).
struct LockedSetting {
    const char* path;
    const char* name;
    const char* value;
};
constexpr LockedSetting lockedSettings[] = {
    {"/org.openoffice.Office.Common/Security/Scripting", "BlockUntrustedRefererLinks", "true"},
    {"/org.openoffice.Office.Writer/Content/Update", "Link", "0"},
};

std::string itemHead(const LockedSetting& setting)
{
    return std::string("<item oor:path=\"") + setting.path + "\"><prop oor:name=\"" + setting.name + "\"";
}

// The suite keeps its settings one item a line and writes the file back when it ends, our items
// with the rest; an item of ours it holds with another value is replaced.
void lockProfile(const fs::path& profile)
{
    const fs::path folder = profile / "user";
    fs::create_directories(folder);
    const fs::path file = folder / "registrymodifications.xcu";
    std::string text;
    {
        std::error_code error;
        if (fs::is_regular_file(file, error) && fs::file_size(file, error) < 64 * 1024 * 1024)
            text = TextFile::readBytes(file);
    }
    const std::string end = "</oor:items>";
    if (text.find(end) == std::string::npos)
        text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
               "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
            + end + "\n";
    std::string items;
    for (const auto& setting : lockedSettings) {
        const std::string head = itemHead(setting);
        for (size_t at; (at = text.find(head)) != std::string::npos;) {
            const size_t close = text.find("</item>", at);
            if (close == std::string::npos)
                break;
            size_t after = close + 7;
            if (after < text.size() && text[after] == '\n')
                ++after;
            text.erase(at, after - at);
        }
        items += head + " oor:op=\"fuse\"><value>" + setting.value + "</value></prop></item>\n";
    }
    text.insert(text.rfind(end), items);
    const fs::path fresh = folder / ".registrymodifications.xcu.brivlon";
    fs::remove(fresh);
    fs::rename(FileSafety::writeNew(fresh, text), file);
}

// An empty network of its own for the suite, where the system lets a user make one and the job's
// bounds did not shut it (the filter was not installed): nothing a document names can be fetched, whatever the suite's
// settings say. Where user namespaces are off the suite runs as it is, with its profile's
// settings alone.
std::vector<std::string> withoutNetwork()
{
    static const std::vector<std::string> prefix = [] {
        if (JobProcess::networkShut())
            return std::vector<std::string>();
        const std::vector<std::string> wrapper
            = {"/usr/bin/unshare", "--user", "--map-current-user", "--net", "--"};
        if (!isExecutableFile(wrapper.front()))
            return std::vector<std::string>();
        Process::Command probe;
        probe.executable = wrapper.front();
        probe.arguments.assign(wrapper.begin() + 1, wrapper.end());
        probe.arguments.push_back("/bin/true");
        try {
            if (Process::run(probe).exitCode == 0)
                return wrapper;
        } catch (const std::system_error&) {
        }
        return std::vector<std::string>();
    }();
    return prefix;
}

}

const std::set<std::string>& inputs()
{
    static const std::set<std::string> keys = {"docx", "doc", "odt", "rtf"};
    return keys;
}

Suites installedSuites()
{
    Suites suites;
    suites.component = Components::soffice();
    suites.componentProfile = Components::officeProfile();
    // A profile of our own kept across runs: a fresh one costs the suite its first-start work
    // and its removal on every conversion, most of what a run costs beyond the suite itself.
    suites.userProfile = Components::folder() / "perfil-libreoffice";
    if (auto found = userSuite())
        suites.user.push_back(*found);
    return suites;
}

std::optional<fs::path> userSuite()
{
    const fs::path debian = "/usr/lib/libreoffice/program/soffice";
    if (isExecutableFile(debian))
        return debian;
    return onPath("soffice");
}

std::string suiteName(const fs::path& soffice)
{
    // The program folder beside the real soffice (the one on PATH is often a link to it) names
    // the product and its version in its bootstrap file: "ProductKey=LibreOffice 7.4".
    std::error_code error;
    const auto program = fs::canonical(soffice, error).parent_path();
    std::string text;
    try {
        if (!error)
            text = TextFile::readUtf8(program / "bootstraprc");
    } catch (const std::exception&) {
    }
    constexpr std::string_view key = "ProductKey=";
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        auto line = std::string_view(text).substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.starts_with(key) && line.size() > key.size())
            return std::string(line.substr(key.size()));
        at = end + 1;
    }
    return "LibreOffice";
}

std::optional<SystemSuite> systemSuite()
{
    static const std::optional<SystemSuite> found = []() -> std::optional<SystemSuite> {
        const auto soffice = userSuite();
        if (!soffice)
            return std::nullopt;
        return SystemSuite{*soffice, suiteName(*soffice)};
    }();
    return found;
}

std::optional<fs::path> convertWithSuite(const fs::path& soffice, const fs::path& source, const std::string& format,
    const fs::path& folder, const std::optional<fs::path>& profile, std::chrono::milliseconds timeLimit)
{
    RunFolder run;
    auto prepared = DocxFonts::prepare(source, run.path());
    prepared.input = OfficeFields::prepare(prepared.input, run.path());
    const fs::path profileFolder = profile.value_or(run.path() / "perfil");
    const fs::path out = run.path() / "saida";
    fs::create_directory(out);

    Process::Result result;
    {
        SuiteGate gate;
        DocxFonts::collectFonts(prepared.families, profileFolder / "user" / "fonts");
        Task::checkCancelled();
        // A suite whose links cannot be shut does not run: the simple route reads no link.
        try {
            lockProfile(profileFolder);
        } catch (const std::exception&) {
            return std::nullopt;
        }
        Process::Command command;
        command.executable = soffice.string();
        command.arguments = {"-env:UserInstallation="
                + QUrl::fromLocalFile(QString::fromStdString(profileFolder.string()))
                      .toString(QUrl::FullyEncoded)
                      .toStdString(),
            "--headless", "--norestore", "--nolockcheck", "--convert-to", format, "--outdir", out.string(),
            prepared.input.string()};
        if (const auto wrapper = withoutNetwork(); !wrapper.empty()) {
            command.arguments.insert(command.arguments.begin(), command.executable);
            command.arguments.insert(command.arguments.begin(), wrapper.begin() + 1, wrapper.end());
            command.executable = wrapper.front();
        }
        command.cancellable = true;
        command.ownGroup = true;
        command.timeLimit = timeLimit;
        // Its temporary files go with the run's folder, the one place it may write besides.
        command.env["TMPDIR"] = run.path().string();
        // The suite reads the document alone, not the folder it is in: it opens whatever a link
        // names there, a FIFO included, and waits on it for ever.
        auto narrowed = Task::current();
        // A suite of the system's is read and run from the system's trees like any program; only
        // one installed elsewhere (the program's own component) keeps its files beside itself.
        std::vector<fs::path> programs;
        if (!soffice.string().starts_with("/usr/") && !soffice.string().starts_with("/opt/"))
            programs.push_back(soffice.parent_path());
        narrowed.bounds = JobProcess::narrowed({{prepared.input}, {run.path(), profileFolder}, programs, true});
        Task::Binder binder(std::move(narrowed));
        result = Process::run(command);
    }
    const fs::path product = out / (prepared.input.stem().string() + "." + format);
    std::error_code error;
    if (result.exitCode != 0 || result.timedOut || !fs::is_regular_file(product, error))
        return std::nullopt;
    const fs::path kept = folder / product.filename();
    if (!FileSafety::moveNoReplace(product, kept))
        throw std::system_error(EEXIST, std::generic_category(), kept.string());
    return kept;
}

std::optional<fs::path> toPDF(const fs::path& source, const Suites& suites)
{
    if (!inputs().count(Catalog::normalizedExt(source)))
        return std::nullopt;

    const auto attempt
        = [&](const fs::path& soffice, const std::optional<fs::path>& profile) -> std::optional<fs::path> {
        RunFolder keep;
        auto product = convertWithSuite(soffice, source, "pdf", keep.path(), profile, suites.timeLimit);
        if (!product)
            return std::nullopt;
        // The free name is chosen only now, after the wait at the gate, so two documents with
        // the same name in one batch cannot both have been promised it; the move never replaces.
        return FileSafety::placeFree(*product, OutputPaths::names(source, "pdf"));
    };

    if (suites.component)
        return attempt(*suites.component, suites.componentProfile);
    if (auto events = OfficeEvents::shared())
        events->componentWanted();
    if (std::getenv("BRIVLON_NO_COMPONENTS"))
        return std::nullopt;
    for (const auto& soffice : suites.user)
        if (auto output = attempt(soffice, suites.userProfile))
            return output;
    // No presentation program exists here to try after the suites.
    return std::nullopt;
}

std::optional<fs::path> docToDocx(const fs::path& source, const fs::path& folder, const Suites& suites)
{
    if (suites.component)
        if (auto product
            = convertWithSuite(*suites.component, source, "docx", folder, suites.componentProfile, suites.timeLimit))
            return product;
    for (const auto& soffice : suites.user)
        if (auto product = convertWithSuite(soffice, source, "docx", folder, suites.userProfile, suites.timeLimit))
            return product;
    return std::nullopt;
}

std::string simpleModeMessage(bool online)
{
    return online ? "O motor de documentos está sendo instalado; os próximos PDFs sairão com o layout completo."
                  : "Sem internet: o motor de documentos será instalado sozinho quando a conexão voltar.";
}

void noteSimpleMode()
{
    if (warnedSimple.exchange(true))
        return;
    if (auto events = OfficeEvents::shared())
        events->simpleMode(simpleModeMessage(Components::networkUsable()));
}

}
