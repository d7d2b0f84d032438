#include "platform/desktop_apps.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <QMimeDatabase>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace DesktopApps {

namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using AppInfo = std::unique_ptr<GAppInfo, Unref>;

struct FreeList {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using AppList = std::unique_ptr<GList, FreeList>;

std::string owned(char* text)
{
    std::string copy = text ? text : "";
    g_free(text);
    return copy;
}

DesktopApp describe(GAppInfo* info)
{
    DesktopApp app{g_app_info_get_id(info) ? g_app_info_get_id(info) : "", {}, {}, {}};
    // The program speaks Portuguese whatever the session's language, and so do its lists; GIO
    // keeps only the session's translations, so the entry is read again with all of them.
    if (const char* file
        = G_IS_DESKTOP_APP_INFO(info) ? g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(info)) : nullptr) {
        app.entry = file;
        std::unique_ptr<GKeyFile, decltype(&g_key_file_unref)> keys(g_key_file_new(), g_key_file_unref);
        if (g_key_file_load_from_file(keys.get(), file, G_KEY_FILE_KEEP_TRANSLATIONS, nullptr))
            app.name = owned(g_key_file_get_locale_string(
                keys.get(), G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_NAME, "pt_BR", nullptr));
    }
    if (app.name.empty())
        app.name = g_app_info_get_name(info);
    if (GIcon* icon = g_app_info_get_icon(info))
        app.icon = owned(g_icon_to_string(icon));
    return app;
}

bool byName(const DesktopApp& a, const DesktopApp& b)
{
    return QString::fromStdString(a.name).compare(QString::fromStdString(b.name), Qt::CaseInsensitive) < 0;
}

bool listed(const std::vector<DesktopApp>& apps, const std::string& id)
{
    return std::ranges::find(apps, id, &DesktopApp::id) != apps.end();
}

// The user's default for the type, then the applications that name the type or one of its parent
// types (text/plain for Markdown), in name order.
std::vector<DesktopApp> forType(const std::string& type)
{
    std::vector<DesktopApp> apps;
    if (AppInfo chosen{g_app_info_get_default_for_type(type.c_str(), FALSE)})
        apps.push_back(describe(chosen.get()));
    std::vector<DesktopApp> others;
    AppList all{g_app_info_get_all_for_type(type.c_str())};
    for (GList* item = all.get(); item; item = item->next)
        if (auto* info = G_APP_INFO(item->data); g_app_info_should_show(info))
            if (auto app = describe(info); !listed(apps, app.id) && !listed(others, app.id))
                others.push_back(std::move(app));
    std::ranges::stable_sort(others, byName);
    apps.insert(apps.end(), others.begin(), others.end());
    return apps;
}

std::vector<std::string> split(const char* text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = text ? text : ""; *c; ++c)
        if (*c == separator) {
            if (!part.empty())
                parts.push_back(std::move(part));
            part.clear();
        } else
            part += *c;
    if (!part.empty())
        parts.push_back(std::move(part));
    return parts;
}

// The desktop entries that xdg-terminals.list files name, most wanted first: the user's
// configuration before the system's, in each the current desktop's list before the common one.
std::vector<std::string> listedTerminals()
{
    std::vector<fs::path> folders;
    if (const char* home = std::getenv("XDG_CONFIG_HOME"); home && *home)
        folders.emplace_back(home);
    else if (const char* user = std::getenv("HOME"))
        folders.push_back(fs::path(user) / ".config");
    const char* system = std::getenv("XDG_CONFIG_DIRS");
    for (const auto& folder : split(system && *system ? system : "/etc/xdg", ':'))
        folders.emplace_back(folder);
    std::vector<std::string> names;
    for (auto desktop : split(std::getenv("XDG_CURRENT_DESKTOP"), ':')) {
        std::ranges::transform(desktop, desktop.begin(), [](unsigned char c) {
            return char(std::tolower(c));
        });
        names.push_back(desktop + "-xdg-terminals.list");
    }
    names.emplace_back("xdg-terminals.list");

    std::vector<std::string> ids;
    for (const auto& folder : folders)
        for (const auto& name : names) {
            std::ifstream list(folder / name);
            for (std::string line; std::getline(list, line);) {
                const auto first = line.find_first_not_of(" \t"), last = line.find_last_not_of(" \t\r");
                if (first == std::string::npos || line[first] == '#')
                    continue;
                // An entry may name one of its actions after a colon; the terminal is the entry.
                const auto id = line.substr(first, last - first + 1);
                ids.push_back(id.substr(0, id.find(':')));
            }
        }
    return ids;
}

// An entry's Exec line as words, quoting undone (GIO's own executable keeps the quotes); empty
// when there is none or it does not parse.
std::vector<std::string> commandOf(GAppInfo* info)
{
    const char* line = info ? g_app_info_get_commandline(info) : nullptr;
    gchar** words = nullptr;
    if (!line || !g_shell_parse_argv(line, nullptr, &words, nullptr))
        return {};
    std::vector<std::string> command;
    for (gchar** word = words; *word; ++word)
        command.emplace_back(*word);
    g_strfreev(words);
    return command;
}

// The file a program name leads to, links followed.
fs::path resolved(const std::string& program)
{
    std::error_code error;
    const auto real = fs::canonical(program, error);
    return error ? fs::path(program) : real;
}

// One program under two names: the same file, or the same name but for the ".wrapper" that Debian
// gives the scripts its alternatives lead to (gnome-terminal.wrapper).
bool sameProgram(const fs::path& a, const fs::path& b)
{
    if (resolved(a) == resolved(b))
        return true;
    auto bare = [](const fs::path& path) {
        auto name = resolved(path).filename().string();
        if (name.ends_with(".wrapper"))
            name.resize(name.size() - std::string_view(".wrapper").size());
        return name;
    };
    return bare(a) == bare(b);
}

// The program's own entry, as it installs it or as a package or a user wrote one for it: offered
// in its own "open with" list, it would only take the files back.
bool isThisProgram(const DesktopApp& app)
{
    if (app.id == "brivlon.desktop")
        return true;
    AppInfo info{G_APP_INFO(app.entry.empty() ? nullptr : g_desktop_app_info_new_from_filename(app.entry.c_str()))};
    const auto command = commandOf(info.get());
    if (command.empty())
        return false;
    const auto program = findProgram(command.front());
    std::error_code error;
    return !program.empty() && fs::equivalent(program, "/proc/self/exe", error);
}

// Two entries of one name ("Arquivos" from two file managers) are told apart by their comments
// where those differ, else by their commands.
void tellApart(std::vector<DesktopApp>& apps)
{
    auto entryText = [](const DesktopApp& app, bool comment) -> std::string {
        AppInfo info{G_APP_INFO(app.entry.empty() ? nullptr : g_desktop_app_info_new_from_filename(app.entry.c_str()))};
        if (!info)
            return app.id;
        const char* text = comment ? g_app_info_get_description(info.get()) : g_app_info_get_commandline(info.get());
        return text ? text : "";
    };
    for (auto& app : apps) {
        std::vector<DesktopApp*> namesakes;
        for (auto& other : apps)
            if (QString::fromStdString(other.name).compare(QString::fromStdString(app.name), Qt::CaseInsensitive) == 0)
                namesakes.push_back(&other);
        if (namesakes.size() < 2 || !app.detail.empty())
            continue;
        for (bool comment : {true, false}) {
            std::vector<std::string> texts;
            for (auto* namesake : namesakes)
                texts.push_back(entryText(*namesake, comment));
            auto sorted = texts;
            std::ranges::sort(sorted);
            if (std::ranges::adjacent_find(sorted) != sorted.end() || std::ranges::count(texts, "") > 0)
                continue;
            for (size_t n = 0; n < namesakes.size(); ++n)
                namesakes[n]->detail = texts[n];
            break;
        }
        if (app.detail.empty())
            for (auto* namesake : namesakes)
                namesake->detail = namesake->id;
    }
}

}

std::string findProgram(const std::string& name)
{
    if (name.empty() || (name.find('/') != std::string::npos && !fs::path(name).is_absolute()))
        return {};
    const auto found = owned(g_find_program_in_path(name.c_str()));
    return fs::path(found).is_absolute() ? found : std::string();
}

std::vector<DesktopApp> forFiles(const std::vector<fs::path>& files)
{
    QMimeDatabase mimes;
    std::vector<DesktopApp> common;
    for (size_t n = 0; n < files.size(); ++n) {
        const auto type = mimes.mimeTypeForFile(QString::fromStdString(files[n].string())).name().toStdString();
        const auto apps = forType(type);
        if (n == 0)
            common = apps;
        else
            std::erase_if(common, [&](const DesktopApp& app) {
                return !listed(apps, app.id);
            });
    }

    std::vector<DesktopApp> others;
    AppList all{g_app_info_get_all()};
    for (GList* item = all.get(); item; item = item->next) {
        auto* info = G_APP_INFO(item->data);
        if (!g_app_info_should_show(info) || !(g_app_info_supports_files(info) || g_app_info_supports_uris(info)))
            continue;
        if (auto app = describe(info); !listed(common, app.id))
            others.push_back(std::move(app));
    }
    std::ranges::stable_sort(others, byName);
    common.insert(common.end(), others.begin(), others.end());
    std::erase_if(common, isThisProgram);
    tellApart(common);
    return common;
}

std::string label(const DesktopApp& app) { return app.detail.empty() ? app.name : app.name + " — " + app.detail; }

void open(const DesktopApp& app, const std::vector<fs::path>& files)
{
    // The entry that was offered, even if the desktop's lists changed since.
    AppInfo info{G_APP_INFO(app.entry.empty() ? g_desktop_app_info_new(app.id.c_str())
                                              : g_desktop_app_info_new_from_filename(app.entry.c_str()))};
    if (!info)
        return;
    GList* list = nullptr;
    for (const auto& file : files)
        list = g_list_append(list, g_file_new_for_path(file.c_str()));
    GError* error = nullptr;
    g_app_info_launch(info.get(), list, nullptr, &error);
    g_clear_error(&error);
    g_list_free_full(list, g_object_unref);
}

std::vector<DesktopApp> terminals()
{
    struct Found {
        DesktopApp app;
        std::string program;
    };
    std::vector<Found> found;
    AppList all{g_app_info_get_all()};
    for (GList* item = all.get(); item; item = item->next) {
        auto* info = G_APP_INFO(item->data);
        if (!G_IS_DESKTOP_APP_INFO(info) || !g_app_info_should_show(info))
            continue;
        const auto categories = split(g_desktop_app_info_get_categories(G_DESKTOP_APP_INFO(info)), ';');
        if (std::ranges::find(categories, "TerminalEmulator") == categories.end())
            continue;
        const auto command = commandOf(info);
        if (auto program = command.empty() ? std::string() : findProgram(command.front()); !program.empty())
            found.push_back({describe(info), std::move(program)});
    }
    std::ranges::stable_sort(found, byName, &Found::app);

    auto chosen = found.end();
    for (const auto& id : listedTerminals()) {
        chosen = std::ranges::find_if(found, [&id](const Found& f) {
            return f.app.id == id;
        });
        if (chosen != found.end())
            break;
    }
    auto running = [&](const std::string& program) {
        return program.empty() ? found.end() : std::ranges::find_if(found, [&](const Found& f) {
            return sameProgram(f.program, program);
        });
    };
    if (chosen == found.end())
        if (const auto wanted = split(std::getenv("TERMINAL"), ' '); !wanted.empty())
            chosen = running(findProgram(wanted.front()));
    if (chosen == found.end())
        chosen = running(findProgram("x-terminal-emulator"));
    if (chosen != found.end())
        std::rotate(found.begin(), chosen, std::next(chosen));

    std::vector<DesktopApp> apps;
    for (auto& terminal : found)
        apps.push_back(std::move(terminal.app));
    return apps;
}

std::optional<DesktopApp> terminal(const std::vector<DesktopApp>& terminals, const std::string& id)
{
    if (terminals.empty())
        return std::nullopt;
    const auto it = std::ranges::find(terminals, id, &DesktopApp::id);
    return it == terminals.end() ? terminals.front() : *it;
}

bool openTerminal(const DesktopApp& terminal, const fs::path& folder)
{
    AppInfo info{G_APP_INFO(terminal.entry.empty() ? g_desktop_app_info_new(terminal.id.c_str())
                                                   : g_desktop_app_info_new_from_filename(terminal.entry.c_str()))};
    const auto command = commandOf(info.get());
    if (command.empty())
        return false;
    const std::string program = findProgram(command.front());
    QStringList arguments;
    for (auto word = std::next(command.begin()); word != command.end(); ++word) {
        // Field codes stand for files, a name or an icon, none of which a plain start passes; "%%"
        // is a percent sign.
        const QString argument = QString::fromStdString(*word);
        if (argument == "%%")
            arguments << "%";
        else if (!(argument.size() == 2 && argument[0] == '%'))
            arguments << argument;
    }
    return !program.empty()
        && QProcess::startDetached(QString::fromStdString(program), arguments, QString::fromStdString(folder.string()));
}

}
