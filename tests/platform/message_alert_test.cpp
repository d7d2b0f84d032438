#include "platform/message_alert.h"

#include "support/test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

// The box's widgets need the widgets' application.
const bool widgets = TestSupport::wantWidgets();

// A question from the update check or a drop: the box carries the program's name as people
// write it, its buttons in the order given, Escape on the last one.
TEST(MessageAlert, TheBoxIsTheProgramsAndAnswersWithTheButtonClicked)
{
    MessageAlert alert;
    QString title;
    QStringList buttons;
    QTimer driver;
    QDeadlineTimer deadline(20000);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        for (auto* button : box->buttons())
            buttons << button->text();
        if (deadline.hasExpired() || box->buttons().size() != 2) {
            box->reject();
            return;
        }
        box->escapeButton()->click();
    });
    driver.start(10);
    const int answer = alert.ask({
        .message = "Brivlon 9.9 disponível",
        .informative = "Você está na versão 1.0.",
        .buttons = {"Baixar no site", "Depois"},
    });
    EXPECT_EQ(title, "Brivlon");
    EXPECT_EQ(buttons, QStringList({"Baixar no site", "Depois"}));
    EXPECT_EQ(answer, 1);
}
