#include "shell/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Whatever sits in a folder someone else owns or may write into could be theirs: a socket there
// would be handed this user's file paths, so such a folder is never used, nor a link to one.
bool privateFolder(const QString& path)
{
    const auto name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) == 0)
        ::chmod(name.constData(), 0700);  // whatever the umask took away
    struct stat status { };
    return ::lstat(name.constData(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid()
        && (status.st_mode & 0777) == 0700;
}

}

QString SingleInstance::folder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        if (const auto folder = QString::fromLocal8Bit(runtime) + "/brivlon"; privateFolder(folder))
            return folder;
    const auto own = "/brivlon-" + QString::number(::getuid());
    if (privateFolder(QDir::tempPath() + own))
        return QDir::tempPath() + own;
    const auto cache = QDir::homePath() + "/.cache";
    if (QDir().mkpath(cache) && privateFolder(cache + own))
        return cache + own;
    return {};
}

QString SingleInstance::serverName()
{
    const auto own = folder();
    return own.isEmpty() ? QString() : own + "/instance";
}

SingleInstance::StartLock::StartLock(int waitMs)
{
    const auto own = folder();
    if (own.isEmpty())
        return;
    fd_ = ::open(
        QFile::encodeName(own + "/instance.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0)
        return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

SingleInstance::StartLock::~StartLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QByteArray SingleInstance::encode(const Files& files)
{
    QByteArray bytes = files.empty() ? "reopen" : "open";
    bytes += '\0';
    for (const auto& file : files)
        bytes += QByteArray::fromStdString(file.string()) + '\0';
    return bytes + '\0';
}

std::optional<SingleInstance::Files> SingleInstance::decode(const QByteArray& bytes)
{
    // No path is empty, so two NULs in a row end the request and nothing else.
    const auto end = bytes.indexOf(QByteArray("\0\0", 2));
    if (end < 0 || end + 2 != bytes.size())
        return std::nullopt;
    const auto fields = bytes.left(end).split('\0');
    if (fields.front() == "reopen" && fields.size() == 1)
        return Files{};
    if (fields.front() != "open" || fields.size() < 2)
        return std::nullopt;
    Files files;
    for (qsizetype i = 1; i < fields.size(); ++i)
        files.emplace_back(fields[i].toStdString());
    return files;
}

bool SingleInstance::forward(const Files& files, int timeoutMs)
{
    const auto name = serverName();
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Someone listens: whatever happens next, a second instance must not take over its name.
    socket.write(encode(files));
    socket.waitForBytesWritten(timeoutMs);
    // The answer says the first instance has the files; leaving before it could lose them.
    while (!socket.canReadLine() && socket.waitForReadyRead(timeoutMs)) { }
    return true;
}

bool SingleInstance::listen(std::function<void(const Files&)> opened)
{
    const auto name = serverName();
    if (name.isEmpty())
        return false;
    server_ = new QLocalServer(this);
    // No access option: with one, Qt makes the socket elsewhere and renames it over the name,
    // taking it from a running instance without a word. The folder keeps everyone else out.
    if (!server_->listen(name)) {
        // Taking the name removes whatever socket has it: only one that nobody answers on, left by
        // an instance that did not end cleanly, is ours to take.
        QLocalSocket running;
        running.connectToServer(name);
        if (running.waitForConnected(300))
            return false;
        QLocalServer::removeServer(name);
        if (!server_->listen(name))
            return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this, opened] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // `searched` is how much of the buffer is known to hold no end mark, so that a sender
            // trickling a long request costs a pass over each byte once, not once per arrival.
            connect(socket, &QLocalSocket::readyRead, socket,
                [socket, opened, buffer = QByteArray(), searched = qsizetype(0)]() mutable {
                buffer += socket->readAll();
                if (buffer.size() > maxRequest) {
                    socket->abort();
                    buffer.clear();
                    return;
                }
                for (qsizetype end; (end = buffer.indexOf(QByteArray("\0\0", 2), std::max<qsizetype>(0, searched - 1))) >= 0;) {
                    searched = 0;
                    const auto files = decode(buffer.left(end + 2));
                    buffer.remove(0, end + 2);
                    if (!files) {
                        socket->abort();
                        return;
                    }
                    socket->write("ok\n");
                    socket->flush();
                    opened(*files);
                }
                searched = buffer.size();
            });
        }
    });
    return true;
}
