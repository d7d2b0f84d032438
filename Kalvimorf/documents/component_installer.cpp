#include "documents/component_installer.h"

#include "core/base/commands.h"
#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/task.h"
#include "documents/archive_engine.h"
#include "documents/components.h"
#include "documents/office_engine.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkInformation>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace {

namespace fs = std::filesystem;

// The failures of an install run that have a text of their own.
class InstallError : public std::runtime_error {
public:
    enum class Kind { download, offline, checksum, mount, noApp };
    InstallError(Kind kind, const std::string& message = {}) : std::runtime_error(describe(kind, message)), kind(kind)
    {
    }
    const Kind kind;

    static std::string describe(Kind kind, const std::string& message)
    {
        switch (kind) {
        case Kind::download: return ComponentInstaller::describeDownload(message);
        case Kind::offline: return "sem internet no momento.";
        case Kind::checksum: return "o arquivo baixado não confere com a assinatura oficial.";
        case Kind::mount: return "não foi possível abrir o pacote baixado.";
        case Kind::noApp: return "o pacote baixado está incompleto.";
        }
        return message;
    }
};

bool forceOffline()
{
    static const bool forced = std::getenv("BRIVLON_FORCE_OFFLINE") != nullptr;
    return forced;
}

bool isExecutableFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

std::string sha256(const fs::path& path)
{
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(file.errorString().toStdString());
    QCryptographicHash hash(QCryptographicHash::Sha256);
    constexpr qint64 chunk = 4 * 1024 * 1024;
    for (;;) {
        const QByteArray bytes = file.read(chunk);
        if (bytes.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                throw std::runtime_error(file.errorString().toStdString());
            break;
        }
        hash.addData(bytes);
    }
    return hash.result().toHex().toStdString();
}

// Writes our own small file in place of its older self.
void writeReplacing(const fs::path& path, const std::string& bytes)
{
    const fs::path fresh = path.parent_path() / (path.filename().string() + ".novo");
    FileSafety::removeTree(fresh);
    {
        auto fd = FileSafety::createExclusive(fresh, 0644);
        FileSafety::writeAll(fd.get(), bytes, fresh);
    }
    fs::rename(fresh, path);
}

bool reachable(QNetworkInformation::Reachability reachability)
{
    return reachability != QNetworkInformation::Reachability::Disconnected
        && reachability != QNetworkInformation::Reachability::Local;
}

}

ComponentInstaller::Payload ComponentInstaller::officePayload()
{
    Payload payload;
    payload.version = Components::officeVersion;
    payload.fileName = "LibreOffice_26.8.2_Linux_x86-64_programa.tar.xz";
    // The suite's release mirror first, its archive of old releases after.
    for (const char* base : {"https://download.documentfoundation.org/libreoffice/stable/",
             "https://downloadarchive.documentfoundation.org/libreoffice/old/"})
        payload.sources.push_back(
            QUrl(QString(base) + "26.8.2/linux/x86_64/" + QString::fromStdString(payload.fileName)));
    payload.sha256 = "9f24fe83ab1ed5c95eb3df580119f32932f713e577feeac02bf619fb00749b55";
    // The suite's program archive is about 250 MB.
    payload.maxBytes = qint64(512) << 20;
    payload.program = "program/soffice";
    payload.trimmable = {"help", "share/gallery", "share/template", "share/wizards", "share/autotext", "share/autocorr",
        "share/extensions", "share/Scripts", "program/python-core", "program/wizards"};
    return payload;
}

std::string ComponentInstaller::describeDownload(const std::string& message)
{
    return "falha no download (" + message + "). Tentaremos de novo em alguns minutos.";
}

ComponentInstaller& ComponentInstaller::shared()
{
    static auto* instance = [] {
        Options options;
        options.download.partialFolder = Components::folder();
        options.systemSuite = [] {
            return OfficeEngine::systemSuite().has_value();
        };
        return new ComponentInstaller(std::move(options));
    }();
    return *instance;
}

ComponentInstaller::ComponentInstaller(Options options) : options_(std::move(options))
{
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &ComponentInstaller::installIfNeeded);
    if (Components::soffice())
        office_.kind = State::Kind::ready;
    if (!options_.watchNetwork)
        return;
    if (QNetworkInformation::loadDefaultBackend() && QNetworkInformation::instance()) {
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                networkChanged(reachable(reachability));
            });
    }
    // One update from the state at creation; with no backend the state is unknown: usable.
    QMetaObject::invokeMethod(
        this,
        [this] {
            auto* information = QNetworkInformation::instance();
            networkChanged(!information || reachable(information->reachability()));
        },
        Qt::QueuedConnection);
}

ComponentInstaller::~ComponentInstaller()
{
    if (cancel_)
        cancel_->cancel();
}

bool ComponentInstaller::online() const { return online_ && !forceOffline(); }

void ComponentInstaller::setOffice(State state)
{
    if (office_ == state)
        return;
    office_ = std::move(state);
    Q_EMIT stateChanged(office_);
}

void ComponentInstaller::networkChanged(bool usable)
{
    usable = usable && !forceOffline();
    if (!usable) {
        online_ = false;
        return;
    }
    const bool was = std::exchange(online_, true);
    if (was || Components::soffice())
        return;
    if (!running_
        && (office_.kind == State::Kind::failed || office_.kind == State::Kind::notInstalled
            || office_.kind == State::Kind::waitingNetwork))
        QTimer::singleShot(options_.networkReturnDelay, this, &ComponentInstaller::installIfNeeded);
}

void ComponentInstaller::installIfNeeded()
{
    if (Components::soffice()) {
        setOffice({State::Kind::ready});
        return;
    }
    // With the distribution's LibreOffice documents already convert with their layout; and where
    // no component is published for the processor, no download could give one.
    if ((options_.systemSuite && options_.systemSuite()) || !Components::downloadable())
        return;
    install();
}

void ComponentInstaller::install()
{
    if (running_)
        return;
    retry_.stop();
    if (!online_ || forceOffline()) {
        setOffice({State::Kind::waitingNetwork});
        scheduleRetry();
        return;
    }
    setOffice({State::Kind::downloading, 0});
    running_ = true;
    jobShown_ = false;
    auto context = Task::newJob();
    cancel_ = context.cancel;
    std::thread([this, context] {
        Task::Binder binder(context);
        std::exception_ptr error;
        try {
            installOffice([this](double fraction) {
                QMetaObject::invokeMethod(
                    this,
                    [this, fraction] {
                        reportProgress(fraction);
                    },
                    Qt::QueuedConnection);
            });
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                runEnded(error);
            },
            Qt::QueuedConnection);
    }).detach();
}

void ComponentInstaller::cancelRun()
{
    if (cancel_)
        cancel_->cancel();
}

void ComponentInstaller::scheduleRetry() { retry_.start(options_.retryDelay); }

void ComponentInstaller::reportProgress(double fraction)
{
    if (!running_)
        return;
    setOffice(fraction < 1.0 ? State{State::Kind::downloading, fraction} : State{State::Kind::installing});
    if (!jobShown_) {
        jobShown_ = true;
        Q_EMIT jobStarted();
    }
    Q_EMIT jobProgress(fraction * 0.9);
}

void ComponentInstaller::runEnded(std::exception_ptr error)
{
    const bool hadJob = jobShown_;
    running_ = false;
    jobShown_ = false;
    cancel_.reset();
    const auto finish = [&](JobEnd kind, const std::string& message) {
        if (hadJob)
            Q_EMIT jobFinished(kind, QString::fromStdString(message));
    };
    if (!error) {
        setOffice({State::Kind::ready});
        finish(jobInfo, "Conversão de documentos pronta");
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        setOffice({State::Kind::notInstalled});
        finish(jobCancelled, {});
    } catch (const InstallError& failure) {
        if (failure.kind == InstallError::Kind::offline) {
            setOffice({State::Kind::waitingNetwork});
            finish(jobInfo, "Pausado sem internet: continua sozinho quando a conexão voltar");
        } else {
            setOffice({State::Kind::failed, 0, failure.what()});
            finish(jobFailed, std::string("Não deu para preparar a conversão de documentos: ") + failure.what());
        }
        scheduleRetry();
    } catch (const std::exception& failure) {
        const std::string description = describeError(failure);
        setOffice({State::Kind::failed, 0, description});
        finish(jobFailed, "Não deu para preparar a conversão de documentos: " + description);
        scheduleRetry();
    }
}

void ComponentInstaller::installOffice(const std::function<void(double)>& progress)
{
    const Payload& payload = options_.payload;
    fs::create_directories(Components::folder());
    const fs::path work = Components::folder() / "instalando";
    FileSafety::removeTree(work);
    fs::create_directories(work);
    struct Cleanup {
        fs::path path;
        ~Cleanup() { FileSafety::removeTree(path); }
    } cleanup{work};

    const fs::path package = work / payload.fileName;
    std::vector<QUrl> sources = payload.sources;
    if (const char* local = std::getenv("BRIVLON_OFFICE_DMG"))
        sources = {QUrl::fromLocalFile(QString::fromLocal8Bit(local))};
    std::string lastMessage;
    bool fetched = false;
    for (const auto& source : sources) {
        try {
            auto download = options_.download;
            download.sizeLimit = payload.maxBytes;
            Downloader::download(source, package, progress, download);
            fetched = true;
            break;
        } catch (const CancellationError&) {
            throw;
        } catch (const std::exception& failure) {
            if (Downloader::isNetworkError(failure))
                throw InstallError(InstallError::Kind::offline);
            lastMessage = failure.what();
        }
    }
    if (!fetched)
        throw InstallError(InstallError::Kind::download, lastMessage);
    progress(1.0);

    // A local package may name its own digest: how the command line's install is tried out.
    const char* digest = std::getenv("BRIVLON_OFFICE_DMG") ? std::getenv("BRIVLON_OFFICE_SHA256") : nullptr;
    if (sha256(package) != (digest ? std::string(digest) : payload.sha256))
        throw InstallError(InstallError::Kind::checksum);
    // From here on the run goes to its end: a half-placed component is worse than a late cancel.
    Task::checkCancelled();
    Task::Binder quiet(Task::with(Task::Context{}, work));

    fs::path unpacked;
    try {
        unpacked = ArchiveEngine::extract(package);
    } catch (const std::exception&) {
        throw InstallError(InstallError::Kind::mount);
    }
    // The program tree: the unpacked folder itself, or the first folder in it (by name) that
    // holds the executable.
    std::optional<fs::path> tree;
    if (isExecutableFile(unpacked / payload.program)) {
        tree = unpacked;
    } else if (fs::is_directory(unpacked)) {
        std::vector<fs::path> folders;
        for (const auto& entry : fs::directory_iterator(unpacked))
            if (entry.is_directory() && !entry.is_symlink())
                folders.push_back(entry.path());
        std::sort(folders.begin(), folders.end());
        for (const auto& folder : folders)
            if (!tree && isExecutableFile(folder / payload.program))
                tree = folder;
    }
    if (!tree)
        throw InstallError(InstallError::Kind::noApp);
    const fs::path staged = work / "Documentos";
    Commands::run("/bin/cp", {"-a", "--", tree->string(), staged.string()});
    FileSafety::removeTree(unpacked);
    FileSafety::removeTree(package);
    for (const auto& part : payload.trimmable)
        FileSafety::removeTree(staged / part);
    if (!isExecutableFile(staged / payload.program))
        throw InstallError(InstallError::Kind::noApp);

    // The working component steps aside and comes back if the new one cannot take its place.
    const fs::path app = Components::officeApp();
    const fs::path aside = work / "Documentos.anterior";
    const bool hadOld = fs::exists(fs::symlink_status(app));
    if (hadOld)
        fs::rename(app, aside);
    FileSafety::removeTree(Components::officeProfile());
    std::error_code moved;
    fs::rename(staged, app, moved);
    if (moved) {
        if (hadOld)
            fs::rename(aside, app);
        throw fs::filesystem_error("mover", staged, app, moved);
    }
    writeReplacing(Components::officeMarker(), payload.version);
}
