#include "platform/desktop_entry.h"

#include "core/base/file_safety.h"
#include "platform/desktop_entry_text.h"

#include <QStandardPaths>

#include <glib.h>

#include <memory>

namespace DesktopEntry {

namespace {

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

constexpr const char* group = "Desktop Entry";

// The executable as one argument of Exec: quoted when it holds a reserved character, with the
// four characters that stay special inside quotes escaped, and every % doubled so that no part
// of a path reads as a field code. The key file adds its own escaping of the string on top.
std::string execArgument(const std::string& path)
{
    std::string quoted;
    bool reserved = false;
    for (char c : path) {
        if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos)
            reserved = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
        if (c == '%')
            quoted += '%';
    }
    return reserved ? "\"" + quoted + "\"" : quoted;
}

KeyFile installed()
{
    KeyFile file(g_key_file_new());
    g_key_file_load_from_data(file.get(), installedText, -1, G_KEY_FILE_KEEP_TRANSLATIONS, nullptr);
    return file;
}

std::string textOf(const KeyFile& file)
{
    gsize length = 0;
    std::unique_ptr<gchar, decltype(&g_free)> data(g_key_file_to_data(file.get(), &length, nullptr), g_free);
    return data ? std::string(data.get(), length) : std::string();
}

std::string execOf(const KeyFile& file)
{
    std::unique_ptr<gchar, decltype(&g_free)> exec(g_key_file_get_string(file.get(), group, "Exec", nullptr), g_free);
    return exec ? exec.get() : "";
}

std::string launcherExec(const std::filesystem::path& executable) { return execArgument(executable.string()) + " %F"; }

}

std::filesystem::path path()
{
    return std::filesystem::path(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString())
        / "applications" / "brivlon.desktop";
}

std::string text(const std::filesystem::path& executable)
{
    auto file = installed();
    g_key_file_set_string(file.get(), group, "Exec", launcherExec(executable).c_str());
    return textOf(file);
}

std::string autostartText(const std::filesystem::path& executable)
{
    auto file = installed();
    g_key_file_set_string(file.get(), group, "Exec", execArgument(executable.string()).c_str());
    g_key_file_remove_key(file.get(), group, "MimeType", nullptr);
    g_key_file_set_boolean(file.get(), group, "X-GNOME-Autostart-enabled", true);
    return textOf(file);
}

bool install(const std::filesystem::path& executable)
{
    const auto file = path();
    const std::string wanted = text(executable);
    std::error_code error;
    if (std::filesystem::exists(file, error)) {
        KeyFile current(g_key_file_new());
        if (g_key_file_load_from_file(current.get(), file.c_str(), G_KEY_FILE_NONE, nullptr)
            && execOf(current) == launcherExec(executable))
            return false;
        // Our own entry from a build elsewhere: it would start the wrong program.
        std::filesystem::remove(file, error);
    }
    std::filesystem::create_directories(file.parent_path(), error);
    try {
        auto fd = FileSafety::createExclusive(file, 0644);
        FileSafety::writeAll(fd.get(), wanted, file);
    } catch (const std::exception&) {
        return false;  // a read-only data folder: the program still runs, only launchers miss it
    }
    return true;
}

}
