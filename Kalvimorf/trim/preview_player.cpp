#include "trim/preview_player.h"

#include "trim/qt_preview_player.h"

PreviewPlayers& PreviewPlayers::current()
{
    if (auto installed = shared())
        return *installed;
    static QtPreviewPlayers real;
    return real;
}
