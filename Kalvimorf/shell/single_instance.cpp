#include "shell/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <cstdlib>
#include <unistd.h>

QString SingleInstance::serverName()
{
    // The session's runtime folder is the user's alone; without one the name carries the user.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return QString::fromLocal8Bit(runtime) + "/brivlon-instance";
    return QString("brivlon-%1").arg(::getuid());
}

QByteArray SingleInstance::encode(const Files& files)
{
    QByteArray bytes = files.empty() ? "reopen\n" : "open\n";
    for (const auto& file : files)
        bytes += QByteArray::fromStdString(file.string()) + '\n';
    return bytes + '\n';
}

std::optional<SingleInstance::Files> SingleInstance::decode(const QByteArray& bytes)
{
    if (!bytes.endsWith("\n\n") && bytes != "reopen\n\n")
        return std::nullopt;
    const auto lines = bytes.left(bytes.size() - 2).split('\n');
    Files files;
    if (lines.front() == "open")
        for (qsizetype i = 1; i < lines.size(); ++i)
            if (!lines[i].isEmpty())
                files.emplace_back(lines[i].toStdString());
    return files;
}

bool SingleInstance::forward(const Files& files, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
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
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverName())) {
        // Left over by an instance that did not end cleanly: nobody answered on it, so it is ours.
        QLocalServer::removeServer(serverName());
        if (!server_->listen(serverName()))
            return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this, opened] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [socket, opened, buffer = QByteArray()]() mutable {
                buffer += socket->readAll();
                if (const auto files = decode(buffer)) {
                    buffer.clear();
                    socket->write("ok\n");
                    socket->flush();
                    opened(*files);
                }
            });
        }
    });
    return true;
}
