#include "platform/autostart_login_item.h"

#include "core/base/app_paths.h"
#include "platform/desktop_entry.h"

#include <QSaveFile>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {
fs::path entryPath()
{
    auto config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    return fs::path(config) / "autostart" / "brivlon.desktop";
}
}

bool AutostartLoginItem::isEnabled()
{
    std::error_code error;
    return fs::is_regular_file(entryPath(), error);
}

bool AutostartLoginItem::setEnabled(bool enabled)
{
    std::error_code error;
    auto path = entryPath();
    if (!enabled) {
        fs::remove(path, error);
        return !error;
    }
    fs::create_directories(path.parent_path(), error);
    QSaveFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto text = DesktopEntry::autostartText(AppPaths::executableDir() / "brivlon");
    file.write(text.data(), qint64(text.size()));
    return file.commit();
}
