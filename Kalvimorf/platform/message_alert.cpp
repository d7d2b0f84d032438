#include "platform/message_alert.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

int MessageAlert::ask(const Alert::Request& request)
{
    QMessageBox box;
    // Named whoever runs it: untitled, it would take the application's name, by default the
    // executable's "brivlon".
    box.setWindowTitle(QStringLiteral("Brivlon"));
    box.setText(QString::fromStdString(request.message));
    box.setInformativeText(QString::fromStdString(request.informative));
    std::vector<QPushButton*> buttons;
    for (const auto& title : request.buttons) {
        // The action role keeps the buttons in the order given.
        auto* button = box.addButton(QString::fromStdString(title), QMessageBox::ActionRole);
        buttons.push_back(button);
    }
    if (!buttons.empty()) {
        box.setDefaultButton(buttons.front());
        // Escape answers with the last button, the way out.
        box.setEscapeButton(buttons.back());
    }
    // The question comes from a drop while another application is in front.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i)
        if (box.clickedButton() == buttons[i])
            return int(i);
    return -1;
}

void MessageAlert::beep() { QApplication::beep(); }
