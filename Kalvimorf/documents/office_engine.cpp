#include "documents/office_engine.h"

#include "core/base/app_paths.h"
#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/state/office_events.h"
#include "documents/components.h"
#include "documents/docx_fonts.h"

#include <QUrl>
#include <QUuid>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

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
    const fs::path debian = "/usr/lib/libreoffice/program/soffice";
    if (isExecutableFile(debian))
        suites.user.push_back(debian);
    else if (auto found = onPath("soffice"))
        suites.user.push_back(*found);
    return suites;
}

std::optional<fs::path> convertWithSuite(const fs::path& soffice, const fs::path& source, const std::string& format,
    const fs::path& folder, const std::optional<fs::path>& profile, std::chrono::milliseconds timeLimit)
{
    RunFolder run;
    const auto prepared = DocxFonts::prepare(source, run.path());
    const fs::path profileFolder = profile.value_or(run.path() / "perfil");
    const fs::path out = run.path() / "saida";
    fs::create_directory(out);

    Process::Result result;
    {
        SuiteGate gate;
        DocxFonts::collectFonts(prepared.families, profileFolder / "user" / "fonts");
        Task::checkCancelled();
        Process::Command command;
        command.executable = soffice.string();
        command.arguments = {"-env:UserInstallation="
                + QUrl::fromLocalFile(QString::fromStdString(profileFolder.string()))
                      .toString(QUrl::FullyEncoded)
                      .toStdString(),
            "--headless", "--norestore", "--nolockcheck", "--convert-to", format, "--outdir", out.string(),
            prepared.input.string()};
        command.cancellable = true;
        command.ownGroup = true;
        command.timeLimit = timeLimit;
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
