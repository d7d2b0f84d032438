#include "documents/downloader.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/task.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <mutex>
#include <optional>

namespace Downloader {

namespace {

// What an interrupted transfer leaves for the next attempt at the same address: one record in
// the whole process, taken once.
struct ResumeRecord {
    QUrl url;
    fs::path partial;
    QByteArray validator;  // the ETag, else Last-Modified, of the first response
};

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

Attempt transfer(QNetworkAccessManager& manager, const QUrl& url, QFile& partial, qint64 offset,
    const QByteArray& validator, const Progress& progress, const Options& options, double& lastReport)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    if (offset > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + "-");
        if (!validator.isEmpty())
            request.setRawHeader("If-Range", validator);
    }
    QNetworkReply* reply = manager.get(request);
    Attempt attempt;
    QEventLoop loop;
    QTimer stall, total;
    stall.setSingleShot(true);
    total.setSingleShot(true);
    bool headersSeen = false;
    qint64 written = offset;
    qint64 expected = -1;

    const auto end = [&](Attempt::End how) {
        if (attempt.end == Attempt::End::failed && how != Attempt::End::finished)
            attempt.end = how;
        reply->abort();
    };
    const auto tooLarge = [&](qint64 bytes) {
        if (options.sizeLimit <= 0 || bytes <= options.sizeLimit)
            return false;
        attempt.errorText = "o arquivo é maior que o esperado";
        end(Attempt::End::failed);
        return true;
    };
    QObject::connect(&stall, &QTimer::timeout, &loop, [&] {
        end(Attempt::End::stalled);
    });
    QObject::connect(&total, &QTimer::timeout, &loop, [&] {
        end(Attempt::End::tooLong);
    });
    const auto onHeaders = [&] {
        if (headersSeen)
            return;
        headersSeen = true;
        attempt.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        attempt.validator = reply->rawHeader("ETag");
        if (attempt.validator.isEmpty())
            attempt.validator = reply->rawHeader("Last-Modified");
        if (offset > 0 && (attempt.status == 200 || attempt.status == 416)) {
            // The server starts over (the file changed or it ignores ranges): so do we.
            end(Attempt::End::restart);
            return;
        }
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > 0 && attempt.status >= 200 && attempt.status < 300) {
            expected = (attempt.status == 206 ? offset : 0) + length;
            tooLarge(expected);
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, onHeaders);
    const auto drain = [&] {
        onHeaders();
        stall.start();
        const QByteArray bytes = reply->readAll();
        if (attempt.status >= 300 && url.scheme() != "file")
            return;
        if (partial.write(bytes) != bytes.size()) {
            attempt.errorText = partial.errorString();
            end(Attempt::End::failed);
            return;
        }
        attempt.receivedBytes = attempt.receivedBytes || !bytes.isEmpty();
        written += bytes.size();
        if (tooLarge(written))
            return;
        if (expected >= 1 && progress) {
            const double fraction = double(written) / double(expected);
            if (fraction - lastReport >= 0.005) {
                lastReport = fraction;
                progress(std::min(fraction, 0.999));
            }
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, drain);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    // Cancelling only aborts; the loop below sees the end.
    const auto token = Task::current().cancel;
    const int handler = token ? token->onCancel([reply] {
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    })
                              : 0;
    stall.start(options.stallLimit);
    total.start(options.totalLimit);
    if (!reply->isFinished())
        loop.exec();
    if (token)
        token->removeHandler(handler);
    // A reply may end with bytes it never announced (a local file's are all there at once).
    if (reply->bytesAvailable() > 0 && attempt.end == Attempt::End::failed && attempt.errorText.isEmpty())
        drain();
    onHeaders();
    if (token && token->isCancelled())
        attempt.end = Attempt::End::cancelled;
    else if (attempt.end == Attempt::End::failed && reply->error() == QNetworkReply::NoError
        && attempt.errorText.isEmpty())
        attempt.end = Attempt::End::finished;
    // A connection that ends before the announced length is a lost connection, whatever the
    // reply says.
    if (attempt.end == Attempt::End::finished && expected > 0 && written < expected) {
        attempt.end = Attempt::End::failed;
        attempt.error = QNetworkReply::RemoteHostClosedError;
        attempt.errorText = "conexão perdida";
        reply->deleteLater();
        return attempt;
    }
    attempt.error = reply->error();
    if (attempt.errorText.isEmpty())
        attempt.errorText = reply->errorString();
    reply->deleteLater();
    return attempt;
}

}

bool isNetworkError(const std::exception& error)
{
    const auto* failure = dynamic_cast<const Error*>(&error);
    return failure && failure->kind() == Error::Kind::network;
}

void download(const QUrl& url, const fs::path& destination, const Progress& progress, const Options& options)
{
    Task::checkCancelled();
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
        const Attempt attempt = transfer(manager, url, partial, offset, validator, progress, options, lastReport);
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
                    throw Error(Error::Kind::file, moved.message());
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
