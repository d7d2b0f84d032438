#include "platform/desktop_file_viewer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QUrl>

namespace {
void openFolder(const std::filesystem::path& item)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(item.parent_path().string())));
}
}

void DesktopFileViewer::reveal(const std::filesystem::path& item)
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(item);
        return;
    }
    auto message = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                  "org.freedesktop.FileManager1", "ShowItems");
    message << QStringList{QUrl::fromLocalFile(QString::fromStdString(item.string())).toString()} << QString();
    // Asynchronous: a file manager that is slow to start must not hold up the main thread.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [item](QDBusPendingCallWatcher* call) {
        if (call->isError())
            openFolder(item);
        call->deleteLater();
    });
}
