#include "platform/desktop_apps.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <QMimeDatabase>
#include <QString>

#include <algorithm>
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
    return common;
}

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

}
