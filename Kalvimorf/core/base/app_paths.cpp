#include "core/base/app_paths.h"

#include <QStandardPaths>

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace AppPaths {

namespace {
fs::path xdg(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    if (value && *value && fs::path(value).is_absolute())
        return fs::path(value);
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/") / fallback;
}
}

fs::path executableDir()
{
    std::error_code error;
    auto exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path() : exe.parent_path();
}

fs::path helperDir()
{
    static const fs::path found = [] {
        const auto own = executableDir();
        // Found from where the program is, never from where it was built: the installed tree
        // and the build tree can be moved as a whole. A helper finds its own folder this way.
        const auto helpers = (own / BRIVLON_HELPER_RELATIVE).lexically_normal();
        std::error_code error;
        return fs::is_directory(helpers, error) ? helpers : own;
    }();
    return found;
}

fs::path resources()
{
    const char* given = std::getenv("BRIVLON_RESOURCES");
    if (given && fs::path(given).is_absolute())
        return given;
    return helperDir() / "resources";
}

fs::path stateDir() { return xdg("XDG_STATE_HOME", ".local/state") / "Brivlon"; }

fs::path dataDir() { return xdg("XDG_DATA_HOME", ".local/share") / "Brivlon"; }

fs::path userDirs() { return xdg("XDG_CONFIG_HOME", ".config") / "user-dirs.dirs"; }

fs::path downloads()
{
    auto location = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!location.isEmpty())
        return fs::path(location.toStdString());
    const char* home = std::getenv("HOME");
    return fs::path(home ? home : "/") / "Downloads";
}

}
