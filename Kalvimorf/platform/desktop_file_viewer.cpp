#include "platform/desktop_file_viewer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>

namespace {
QUrl fileUrl(const std::filesystem::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

void openFolder(const std::filesystem::path& item) { QDesktopServices::openUrl(fileUrl(item.parent_path())); }
}

void DesktopFileViewer::reveal(const std::vector<std::filesystem::path>& items)
{
    if (items.empty())
        return;
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(items.front());
        return;
    }
    QStringList uris;
    for (const auto& item : items)
        uris << fileUrl(item).toString(QUrl::FullyEncoded);
    auto message = QDBusMessage::createMethodCall(
        "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1", "ShowItems");
    message << uris << QString();
    // Asynchronous: a file manager that is slow to start must not hold up the main thread.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 5000));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, [first = items.front()](QDBusPendingCallWatcher* call) {
            if (call->isError())
                openFolder(first);
            call->deleteLater();
        });
}
