#include "platform/desktop_apps.h"

#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace DesktopApps {

namespace {

using Group = std::map<std::string, std::string>;
using KeyFile = std::map<std::string, Group>;

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The desktop's key-file format: groups of Key=Value lines; the first value of a key counts.
KeyFile readKeyFile(const fs::path& file)
{
    KeyFile groups;
    std::ifstream in(file);
    std::string line, group;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            group = line.substr(1, line.size() - 2);
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            groups[group].emplace(trimmed(line.substr(0, eq)), trimmed(line.substr(eq + 1)));
    }
    return groups;
}

std::string unescaped(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (const char c = value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        default: out += c;
        }
    }
    return out;
}

std::vector<std::string> list(const Group& group, const std::string& key)
{
    std::vector<std::string> items;
    const auto it = group.find(key);
    if (it == group.end())
        return items;
    std::stringstream in(it->second);
    for (std::string item; std::getline(in, item, ';');)
        if (!trimmed(item).empty())
            items.push_back(trimmed(item));
    return items;
}

std::string value(const Group& group, const std::string& key)
{
    const auto it = group.find(key);
    return it == group.end() ? std::string() : unescaped(it->second);
}

struct Entry {
    DesktopApp app;
    std::vector<std::string> types;
};

std::vector<fs::path> locations(QStandardPaths::StandardLocation kind)
{
    std::vector<fs::path> dirs;
    for (const auto& dir : QStandardPaths::standardLocations(kind))
        dirs.emplace_back(dir.toStdString());
    return dirs;
}

// Every application entry, the first of each id winning; a hidden entry masks the ones after it.
std::map<std::string, Entry> loadEntries()
{
    std::map<std::string, Entry> entries;
    std::set<std::string> seen;
    for (const auto& dir : locations(QStandardPaths::ApplicationsLocation)) {
        std::error_code error;
        for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
            if (it->path().extension() != ".desktop")
                continue;
            auto id = it->path().lexically_relative(dir).generic_string();
            std::replace(id.begin(), id.end(), '/', '-');
            if (!seen.insert(id).second)
                continue;
            const auto file = readKeyFile(it->path());
            const auto group = file.find("Desktop Entry");
            if (group == file.end())
                continue;
            const auto& keys = group->second;
            if (value(keys, "Type") != "Application" || value(keys, "Hidden") == "true"
                || value(keys, "NoDisplay") == "true" || value(keys, "Exec").empty())
                continue;
            if (const auto probe = value(keys, "TryExec"); !probe.empty() && findProgram(probe).empty())
                continue;
            DesktopApp app{id, {}, value(keys, "Icon"), value(keys, "Exec"), it->path()};
            for (const char* key : {"Name[pt_BR]", "Name[pt]", "Name"})
                if (app.name.empty())
                    app.name = value(keys, key);
            entries.emplace(id, Entry{std::move(app), list(keys, "MimeType")});
        }
    }
    return entries;
}

// The user's and the system's choices per type, most important file first.
struct Associations {
    std::vector<Group> defaults, added;
    std::set<std::string> removed;  // "type\nid"
};

Associations loadAssociations()
{
    Associations result;
    std::vector<fs::path> files;
    for (const auto& dir : locations(QStandardPaths::GenericConfigLocation))
        files.push_back(dir / "mimeapps.list");
    for (const auto& dir : locations(QStandardPaths::ApplicationsLocation))
        files.push_back(dir / "mimeapps.list");
    for (const auto& path : files) {
        auto file = readKeyFile(path);
        const auto& removed = file["Removed Associations"];
        for (const auto& entry : removed)
            for (const auto& id : list(removed, entry.first))
                result.removed.insert(entry.first + "\n" + id);
        result.defaults.push_back(file["Default Applications"]);
        result.added.push_back(file["Added Associations"]);
    }
    return result;
}

std::vector<std::string> idsForType(
    const std::string& type, const std::map<std::string, Entry>& entries, const Associations& associations)
{
    std::vector<std::string> ids;
    auto take = [&](const std::string& id) {
        if (entries.contains(id) && !associations.removed.contains(type + "\n" + id)
            && std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    };
    for (const auto& group : associations.defaults)
        if (const auto chosen = list(group, type); !chosen.empty() && entries.contains(chosen.front())) {
            take(chosen.front());
            break;
        }
    for (const auto& group : associations.added)
        for (const auto& id : list(group, type))
            take(id);
    std::vector<const Entry*> registered;
    for (const auto& [id, entry] : entries)
        if (std::find(entry.types.begin(), entry.types.end(), type) != entry.types.end())
            registered.push_back(&entry);
    std::sort(registered.begin(), registered.end(), [](auto* a, auto* b) {
        return QString::fromStdString(a->app.name).compare(QString::fromStdString(b->app.name), Qt::CaseInsensitive)
            < 0;
    });
    for (const auto* entry : registered)
        take(entry->app.id);
    return ids;
}

// Exec words, with the quoting rules of desktop entries (double quotes, backslash escapes).
std::vector<std::string> execWords(const std::string& exec)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size())
                word += exec[++i];
            else if (c == '"')
                quoted = false;
            else
                word += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::exchange(word, {}));
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

std::string url(const fs::path& file)
{
    return QUrl::fromLocalFile(QString::fromStdString(file.string())).toString(QUrl::FullyEncoded).toStdString();
}

std::vector<std::string> expand(
    const std::vector<std::string>& words, const DesktopApp& app, const std::vector<fs::path>& files)
{
    std::vector<std::string> out;
    for (const auto& word : words) {
        if (word == "%F" || word == "%U") {
            for (const auto& file : files)
                out.push_back(word == "%F" ? file.string() : url(file));
            continue;
        }
        if (word == "%i") {
            if (!app.icon.empty())
                out.insert(out.end(), {"--icon", app.icon});
            continue;
        }
        std::string result;
        bool codesOnly = true;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 == word.size()) {
                result += word[i];
                codesOnly = false;
                continue;
            }
            switch (word[++i]) {
            case 'f':
            case 'F': result += files.empty() ? std::string() : files.front().string(); break;
            case 'u':
            case 'U': result += files.empty() ? std::string() : url(files.front()); break;
            case 'c': result += app.name; break;
            case 'k': result += app.entry.string(); break;
            case '%':
                result += '%';
                codesOnly = false;
                break;
            default: break;  // deprecated codes stand for nothing
            }
        }
        if (!result.empty() || !codesOnly)
            out.push_back(result);
    }
    return out;
}

// Which file codes the Exec line has: 'F' for a list, 'f' for one file, 0 for none.
char fileCode(const std::string& exec)
{
    char code = 0;
    for (size_t i = 0; i + 1 < exec.size(); ++i) {
        if (exec[i] != '%')
            continue;
        const char c = exec[++i];
        if (c == 'F' || c == 'U')
            return 'F';
        if (c == 'f' || c == 'u')
            code = 'f';
    }
    return code;
}

}

std::string findProgram(const std::string& name)
{
    auto runnable = [](const fs::path& path) {
        std::error_code error;
        return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
    };
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return fs::path(name).is_absolute() && runnable(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (fs::path(dir).is_absolute() && runnable(fs::path(dir) / name))
            return (fs::path(dir) / name).string();
    return {};
}

std::vector<DesktopApp> forFiles(const std::vector<fs::path>& files)
{
    const auto entries = loadEntries();
    const auto associations = loadAssociations();
    QMimeDatabase mimes;
    std::vector<std::string> common;
    for (size_t n = 0; n < files.size(); ++n) {
        const auto type = mimes.mimeTypeForFile(QString::fromStdString(files[n].string()));
        std::vector<std::string> ids;
        // Entries may name the type by one of its aliases, or only a parent type (text/plain for
        // Markdown).
        QStringList types{type.name()};
        types += type.aliases();
        types += type.allAncestors();
        for (const auto& name : types)
            for (const auto& id : idsForType(name.toStdString(), entries, associations))
                if (std::find(ids.begin(), ids.end(), id) == ids.end())
                    ids.push_back(id);
        if (n == 0)
            common = ids;
        else
            std::erase_if(common, [&](const auto& id) {
                return std::find(ids.begin(), ids.end(), id) == ids.end();
            });
    }

    std::vector<DesktopApp> apps;
    for (const auto& id : common)
        apps.push_back(entries.at(id).app);
    std::vector<DesktopApp> others;
    for (const auto& [id, entry] : entries)
        if (fileCode(entry.app.exec) && std::find(common.begin(), common.end(), id) == common.end())
            others.push_back(entry.app);
    std::sort(others.begin(), others.end(), [](const auto& a, const auto& b) {
        return QString::fromStdString(a.name).compare(QString::fromStdString(b.name), Qt::CaseInsensitive) < 0;
    });
    apps.insert(apps.end(), others.begin(), others.end());
    return apps;
}

std::vector<std::vector<std::string>> commandLines(const DesktopApp& app, const std::vector<fs::path>& files)
{
    auto words = execWords(app.exec);
    const char code = fileCode(app.exec);
    if (code == 'F')
        return {expand(words, app, files)};
    if (!code)
        words.push_back("%f");
    std::vector<std::vector<std::string>> lines;
    for (const auto& file : files)
        lines.push_back(expand(words, app, {file}));
    if (files.empty())
        lines.push_back(expand(words, app, {}));
    return lines;
}

void open(const DesktopApp& app, const std::vector<fs::path>& files)
{
    for (const auto& line : commandLines(app, files)) {
        if (line.empty())
            continue;
        const auto program = findProgram(line.front());
        if (program.empty())
            continue;
        QStringList arguments;
        for (size_t i = 1; i < line.size(); ++i)
            arguments << QString::fromStdString(line[i]);
        QProcess::startDetached(QString::fromStdString(program), arguments);
    }
}

}
