#include "shell/about_box.h"

#include "menus/brivlon_mark.h"
#include "menus/drawing_kit.h"
#include "menus/palette.h"
#include "settings/updates.h"
#include "shell/view_look.h"

#include <QMessageBox>
#include <QPainter>
#include <QPointer>

namespace AboutBox {

namespace {

QPointer<QMessageBox> box;

// The program's own icon, the mark in blue, which reads on a light box and a dark one alike (the
// tray's black template would vanish on a dark one).
QPixmap mark()
{
    constexpr int side = 64, scale = 2;
    QImage image(side * scale, side * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    BrivlonMark::paint(painter, QRectF(0, 0, side, side), Theme::standardBlue());
    painter.end();
    return QPixmap::fromImage(image);
}

}

QString credits()
{
    return "Converta qualquer arquivo sem sair do arraste.\nTudo processado no seu computador, offline.";
}

void show()
{
    if (!box) {
        // Not modal: the tray, the panel and the cards keep working while it is open.
        box = new QMessageBox;
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowTitle("Sobre o Brivlon");
        box->setIconPixmap(mark());
        box->setFont(Draw::font(13));
        box->setTextFormat(Qt::RichText);
        const QString name = "<p align=center style=\"font-family: Inter; font-size: 13pt\"><b>Brivlon</b><br>"
            + Updates::displayVersion().toHtmlEscaped() + "</p>";
        const auto secondary = ViewColors::current(box).secondary;
        const QString colour = QString("rgba(%1, %2, %3, %4)")
                                   .arg(secondary.red())
                                   .arg(secondary.green())
                                   .arg(secondary.blue())
                                   .arg(secondary.alphaF());
        const QString lines = "<p align=center style=\"font-family: Inter; font-size: 11pt; color: " + colour + "\">"
            + credits().toHtmlEscaped().replace("\n", "<br>") + "</p>";
        box->setText(name + lines);
        box->setStandardButtons(QMessageBox::Ok);
    }
    box->show();
    box->raise();
    box->activateWindow();
}

QMessageBox* shown() { return box && box->isVisible() ? box.data() : nullptr; }

}
