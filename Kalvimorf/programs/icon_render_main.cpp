// Draws the program's mark as the icon theme's sizes for the install: <folder>/<n>x<n>/apps/brivlon.png.
// Run by the build, so the icons are always the mark the program itself draws.

#include "menus/brivlon_mark.h"
#include "menus/palette.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s <pasta>\n", argv[0]);
        return 2;
    }
    for (int side : {16, 24, 32, 48, 64, 128, 256, 512}) {
        const QString folder = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(side);
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            BrivlonMark::paint(painter, QRectF(0, 0, side, side), Theme::standardBlue());
        }
        if (!QDir().mkpath(folder) || !image.save(folder + "/brivlon.png")) {
            std::fprintf(stderr, "%s: não foi possível escrever\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
