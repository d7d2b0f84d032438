#include "settings/desktop_uri.h"

#include <gio/gio.h>

namespace DesktopUri {

bool hasHandler(const QString& scheme)
{
    GAppInfo* app = g_app_info_get_default_for_uri_scheme(scheme.toUtf8().constData());
    if (!app)
        return false;
    g_object_unref(app);
    return true;
}

bool open(const QString& uri)
{
    const auto scheme = uri.section(':', 0, 0);
    if (scheme.isEmpty() || !hasHandler(scheme))
        return false;
    GError* error = nullptr;
    const bool opened = g_app_info_launch_default_for_uri(uri.toUtf8().constData(), nullptr, &error);
    if (error)
        g_error_free(error);
    return opened;
}

}
