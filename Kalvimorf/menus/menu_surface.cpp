#include "menus/menu_surface.h"

#include "platform/drop_offers.h"

#include <QMimeData>
#include <QUrl>

MenuSurface::MenuSurface() { DropOffers::takeMovesAsCopies(); }

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
