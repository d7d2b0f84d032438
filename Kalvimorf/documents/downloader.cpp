#include "documents/downloader.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/task.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <mutex>
#include <optional>
#include <system_error>

namespace Downloader {

namespace {

// What an interrupted transfer leaves for the next attempt at the same address: one record in
// the whole process, taken once.
struct ResumeRecord {
    QUrl url;
    fs::path partial;
    QByteArray validator;  // the ETag, else Last-Modified, of the first response
};

// Why a file cannot be used, as the clause a download's failure is told in ("falha no download
// (…)"): the program's own sentence for the cause, not the library's English, without its capital
// and full stop.
std::string clause(const std::error_code& code, const fs::path& path)
{
    auto text = describeError(fs::filesystem_error("", path, code));
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    if (!text.empty())
        text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// A local package (a file address) that cannot be read: why, before any transfer starts.
std::optional<std::error_code> unreadable(const fs::path& path)
{
    std::error_code ignored;
    if (fs::is_directory(path, ignored))
        return std::make_error_code(std::errc::is_a_directory);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::error_code(errno, std::generic_category());
    ::close(fd);
    return std::nullopt;
}

std::mutex resumeMutex;
std::optional<ResumeRecord> resumeRecord;

std::optional<ResumeRecord> takeResume(const QUrl& url)
{
    std::lock_guard lock(resumeMutex);
    std::optional<ResumeRecord> record;
    if (resumeRecord && resumeRecord->url == url)
        record = resumeRecord;
    else if (resumeRecord)
        FileSafety::removeTree(resumeRecord->partial);
    resumeRecord.reset();
    return record;
}

void keepResume(ResumeRecord record)
{
    std::lock_guard lock(resumeMutex);
    if (resumeRecord && resumeRecord->partial != record.partial)
        FileSafety::removeTree(resumeRecord->partial);
    resumeRecord = std::move(record);
}

bool isNetworkFailure(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError: return true;
    default: return false;
    }
}

struct Attempt {
    enum class End { finished, failed, cancelled, stalled, tooLong, restart };
    End end = End::failed;
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    bool receivedBytes = false;
    QByteArray validator;
};

QNetworkRequest requestFor(const QUrl& url, qint64 offset, const QByteArray& validator)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    if (offset > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + "-");
        if (!validator.isEmpty())
            request.setRawHeader("If-Range", validator);
    }
    return request;
}

// One request, from its first byte at `offset` to its end, on an event loop of its own: the
// reply's signals, the timers and the cancel token all act on this object.
class Transfer {
public:
    Transfer(QNetworkAccessManager& manager, const QUrl& url, QFile& partial, qint64 offset,
        const QByteArray& validator, const Options& options)
        : url_(url), partial_(partial), offset_(offset), options_(options),
          reply_(manager.get(requestFor(url, offset, validator))), written_(offset)
    {
        // Qt reads the socket on a thread of its own, by default without limit: a server that
        // sends faster than the file takes it would fill memory, and the size bound would cut
        // the connection only after the whole body had arrived.
        reply_->setReadBufferSize(1 << 20);
        stall_.setSingleShot(true);
        total_.setSingleShot(true);
        QObject::connect(&stall_, &QTimer::timeout, &loop_, [this] {
            end(Attempt::End::stalled);
        });
        QObject::connect(&total_, &QTimer::timeout, &loop_, [this] {
            end(Attempt::End::tooLong);
        });
        QObject::connect(reply_, &QNetworkReply::metaDataChanged, &loop_, [this] {
            headers();
        });
        QObject::connect(reply_, &QNetworkReply::readyRead, &loop_, [this] {
            drain();
        });
        QObject::connect(reply_, &QNetworkReply::finished, &loop_, &QEventLoop::quit);
    }
    ~Transfer() { reply_->deleteLater(); }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Reports received/expected in steps of at least half a percent above `lastReport`.
    Attempt run(const Progress& progress, double& lastReport)
    {
        progress_ = &progress;
        lastReport_ = &lastReport;
        // Cancelling only aborts; the loop below sees the end.
        const auto token = Task::current().cancel;
        const int handler = token ? token->onCancel([reply = reply_] {
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        })
                                  : 0;
        stall_.start(options_.stallLimit);
        total_.start(options_.totalLimit);
        if (!reply_->isFinished())
            loop_.exec();
        if (token)
            token->removeHandler(handler);
        // A reply may end with bytes it never announced (a local file's are all there at once).
        if (reply_->bytesAvailable() > 0 && attempt_.end == Attempt::End::failed && attempt_.errorText.isEmpty())
            drain();
        headers();
        if (token && token->isCancelled())
            attempt_.end = Attempt::End::cancelled;
        else if (attempt_.end == Attempt::End::failed && reply_->error() == QNetworkReply::NoError
            && attempt_.errorText.isEmpty())
            attempt_.end = Attempt::End::finished;
        // A connection that ends before the announced length is a lost connection, whatever the
        // reply says.
        if (attempt_.end == Attempt::End::finished && expected_ > 0 && written_ < expected_) {
            attempt_.end = Attempt::End::failed;
            attempt_.error = QNetworkReply::RemoteHostClosedError;
            attempt_.errorText = "conexão perdida";
            return attempt_;
        }
        attempt_.error = reply_->error();
        if (attempt_.errorText.isEmpty())
            attempt_.errorText = reply_->errorString();
        return attempt_;
    }

private:
    // The first reason to stop is the one the attempt keeps.
    void end(Attempt::End how)
    {
        if (attempt_.end == Attempt::End::failed && how != Attempt::End::finished)
            attempt_.end = how;
        stopped_ = true;
        reply_->abort();
    }

    bool tooLarge(qint64 bytes)
    {
        if (options_.sizeLimit <= 0 || bytes <= options_.sizeLimit)
            return false;
        attempt_.errorText = "o arquivo é maior que o esperado";
        end(Attempt::End::failed);
        return true;
    }

    // Once, at the first of the headers' signal, the first bytes and the end.
    void headers()
    {
        if (headersSeen_)
            return;
        headersSeen_ = true;
        attempt_.status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        attempt_.validator = reply_->rawHeader("ETag");
        if (attempt_.validator.isEmpty())
            attempt_.validator = reply_->rawHeader("Last-Modified");
        if (offset_ > 0 && (attempt_.status == 200 || attempt_.status == 416)) {
            // The server starts over (the file changed or it ignores ranges): so do we.
            end(Attempt::End::restart);
            return;
        }
        const qint64 length = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > 0 && attempt_.status >= 200 && attempt_.status < 300) {
            expected_ = (attempt_.status == 206 ? offset_ : 0) + length;
            tooLarge(expected_);
        }
    }

    // In slices of a mebibyte: a local file's reply has all of the file available at once, and
    // reading it whole would hold a package of any size in memory before its bound was checked.
    void drain()
    {
        headers();
        stall_.start();
        while (!stopped_ && reply_->bytesAvailable() > 0) {
            const QByteArray bytes = reply_->read(1 << 20);
            if (bytes.isEmpty())
                break;
            if (attempt_.status >= 300 && url_.scheme() != "file")
                continue;
            if (!keep(bytes))
                return;
        }
    }

    // False once the attempt has ended.
    bool keep(const QByteArray& bytes)
    {
        if (partial_.write(bytes) != bytes.size()) {
            attempt_.errorText = partial_.errorString();
            end(Attempt::End::failed);
            return false;
        }
        attempt_.receivedBytes = true;
        written_ += bytes.size();
        if (tooLarge(written_))
            return false;
        if (expected_ >= 1 && progress_ && *progress_) {
            const double fraction = double(written_) / double(expected_);
            if (fraction - *lastReport_ >= 0.005) {
                *lastReport_ = fraction;
                (*progress_)(std::min(fraction, 0.999));
            }
        }
        return true;
    }

    const QUrl& url_;
    QFile& partial_;
    const qint64 offset_;
    const Options& options_;
    QNetworkReply* reply_;
    const Progress* progress_ = nullptr;
    double* lastReport_ = nullptr;
    QEventLoop loop_;
    QTimer stall_, total_;
    Attempt attempt_;
    bool headersSeen_ = false;
    bool stopped_ = false;
    qint64 written_;
    qint64 expected_ = -1;  // known from the length the server announces
};

}

bool isNetworkError(const std::exception& error)
{
    const auto* failure = dynamic_cast<const Error*>(&error);
    return failure && failure->kind() == Error::Kind::network;
}

void download(const QUrl& url, const fs::path& destination, const Progress& progress, const Options& options)
{
    Task::checkCancelled();
    if (url.isLocalFile()) {
        const fs::path local = url.toLocalFile().toStdString();
        if (const auto code = unreadable(local))
            throw Error(Error::Kind::file, clause(*code, local));
    }
    std::error_code ignored;
    fs::create_directories(options.partialFolder, ignored);
    auto resume = takeResume(url);
    const fs::path partialPath = options.partialFolder / (destination.filename().string() + ".parcial");
    qint64 offset = 0;
    QByteArray validator;
    if (resume && resume->partial == partialPath && fs::is_regular_file(partialPath, ignored)) {
        offset = qint64(fs::file_size(partialPath, ignored));
        validator = resume->validator;
    }
    QNetworkAccessManager manager;
    double lastReport = 0;
    for (int round = 0; round < 2; ++round) {
        QFile partial(QString::fromStdString(partialPath.string()));
        if (!partial.open(offset > 0 ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate))
            throw Error(Error::Kind::file, partial.errorString().toStdString());
        const Attempt attempt = Transfer(manager, url, partial, offset, validator, options).run(progress, lastReport);
        partial.close();
        switch (attempt.end) {
        case Attempt::End::restart:
            offset = 0;
            validator.clear();
            continue;
        case Attempt::End::cancelled: FileSafety::removeTree(partialPath); throw CancellationError();
        case Attempt::End::stalled:
        case Attempt::End::tooLong:
        case Attempt::End::failed: break;
        case Attempt::End::finished: {
            if (url.scheme() != "file" && (attempt.status < 200 || attempt.status > 299)) {
                FileSafety::removeTree(partialPath);
                throw Error(Error::Kind::server, "o servidor respondeu " + std::to_string(attempt.status));
            }
            FileSafety::removeTree(destination);
            std::error_code moved;
            fs::rename(partialPath, destination, moved);
            if (moved) {
                fs::copy_file(partialPath, destination, moved);
                FileSafety::removeTree(partialPath);
                if (moved)
                    throw Error(Error::Kind::file, clause(moved, destination));
            }
            return;
        }
        }
        // A transfer that broke off keeps what it received, for the next attempt at this address.
        const bool network = attempt.end != Attempt::End::failed || isNetworkFailure(attempt.error);
        if (network && (attempt.receivedBytes || offset > 0) && attempt.status != 0 && attempt.status < 300)
            keepResume({url, partialPath, attempt.validator.isEmpty() ? validator : attempt.validator});
        else
            FileSafety::removeTree(partialPath);
        if (attempt.end == Attempt::End::stalled || attempt.end == Attempt::End::tooLong)
            throw Error(Error::Kind::network, "tempo esgotado");
        throw Error(network ? Error::Kind::network : Error::Kind::server, attempt.errorText.toStdString());
    }
    throw Error(Error::Kind::server, "o servidor recusou retomar o download");
}

}
