#include "menus/menu_surface.h"

#include <QMimeData>
#include <QUrl>

WheelEntry::Paths MenuSurface::localFiles(const QMimeData* data)
{
    WheelEntry::Paths files;
    if (!data || !data->hasUrls())
        return files;
    for (const auto& url : data->urls())
        if (url.isLocalFile())
            files.emplace_back(url.toLocalFile().toStdString());
    return files;
}

std::optional<Qt::DropAction> MenuSurface::dropAction(Qt::DropActions possible)
{
    for (auto action : {Qt::CopyAction, Qt::LinkAction})
        if (possible & action)
            return action;
    return std::nullopt;
}
