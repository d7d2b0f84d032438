// Where the program's windows stand on a real X server with a window manager: the main window
// centred and back where it was, the settings window fitted to its screen at every call, the
// progress panel on every workspace. Runs in the tray program's X11 tests, through support/with-x.
#include "core/jobs/job_store.h"
#include "settings/settings_window.h"
#include "shell/hud_controller.h"
#include "shell/hud_panel.h"
#include "shell/main_window.h"
#include "shell/x11_desktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

using X11Desktop::showDesktop;
using X11Desktop::waitFor;

// Once the window manager has framed it: its title bar is part of the frame.
bool framed(QWidget& window) { return window.isVisible() && window.frameGeometry().height() > window.height(); }

// xprop's word on the window's properties, as a user would ask.
QString xprop(QWidget& window, const QStringList& properties)
{
    QProcess run;
    run.start("xprop", QStringList{"-id", QString::number(window.winId())} + properties);
    run.waitForFinished(10000);
    return QString::fromUtf8(run.readAllStandardOutput());
}

// xprop's word on a property of the root window.
QString root(const QString& property)
{
    QProcess run;
    run.start("xprop", {"-root", property});
    run.waitForFinished(10000);
    return QString::fromUtf8(run.readAllStandardOutput());
}

// Shows another workspace and waits until the window manager has, asking again now and then.
bool switchTo(uint32_t desktop)
{
    QElapsedTimer asked;
    return waitFor([&] {
        if (!asked.isValid() || asked.elapsed() > 200) {
            showDesktop(desktop);
            asked.start();
        }
        return root("_NET_CURRENT_DESKTOP").contains("= " + QString::number(desktop).toUtf8());
    });
}

// Whether the window can be seen: the window manager unmaps the frames of other workspaces.
bool viewable(QWidget& window)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, xcb_window_t(window.winId())), nullptr),
        &std::free);
    const bool result = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    xcb_disconnect(connection);
    return result;
}

}

TEST(WindowPlaces, TheMainWindowIsCentredAndComesBackWhereItWas)
{
    // Another window at the centre: the window manager would place a new one beside it.
    QWidget other;
    other.setWindowTitle("outra");
    other.resize(500, 400);
    other.move(QGuiApplication::primaryScreen()->availableGeometry().center() - QPoint(250, 200));
    other.show();
    ASSERT_TRUE(waitFor([&] {
        return framed(other);
    }));

    auto& window = MainWindow::shared();
    window.present();
    ASSERT_TRUE(waitFor([&] {
        return framed(window);
    })) << window.isVisible()
        << " " << window.frameGeometry().height() << " " << window.height();
    const QRect area = window.screen()->availableGeometry(), frame = window.frameGeometry();
    EXPECT_LE(std::abs(frame.center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(frame.center().y() - area.center().y()), 1) << "the frame, title bar included, is centred";

    window.close();
    ASSERT_TRUE(waitFor([&] {
        return !window.isVisible();
    }));
    window.present();
    ASSERT_TRUE(waitFor([&] {
        return framed(window);
    }));
    EXPECT_EQ(window.frameGeometry(), frame) << "shown again where it was";
    window.hide();
}

TEST(WindowPlaces, TheSettingsWindowIsFittedToItsScreenAtEveryCall)
{
    SettingsWindow::showWindow();
    auto& window = SettingsWindow::shared();
    ASSERT_TRUE(waitFor([&] {
        return framed(window);
    }));
    const QRect area = window.screen()->availableGeometry();
    // Moved while shown most of the way off the screen's bottom right: the next call brings it
    // back 10 inside the edges, without waiting to be hidden first.
    window.move(area.right() - 100, area.bottom() - 60);
    ASSERT_TRUE(waitFor([&] {
        return window.frameGeometry().x() == area.right() - 100;
    }));
    SettingsWindow::showWindow();
    ASSERT_TRUE(waitFor([&] {
        return window.frameGeometry().right() == area.right() - 10;
    })) << window.frameGeometry().right()
        << " in " << area.right();
    EXPECT_TRUE(waitFor([&] {
        return window.frameGeometry().bottom() == area.bottom() - 10;
    })) << window.frameGeometry().bottom()
        << " in " << area.bottom();
    window.hide();
}

TEST(WindowPlaces, TheProgressPanelIsOnEveryWorkspaceAndInNoTaskList)
{
    HudController::setHidden(false);
    HudController hud(JobStore::shared());
    const auto id = JobStore::shared().add("e.mov", "MP4");
    HudPanel* panel = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (auto* widget : QApplication::topLevelWidgets())
            if (auto* found = dynamic_cast<HudPanel*>(widget); found && found->isVisible())
                panel = found;
        return panel && viewable(*panel);
    }));
    // The window manager writes back the desktop it gave; one that knows the sticky state keeps
    // it (openbox knows only the desktop).
    const auto said = xprop(*panel, {"_NET_WM_DESKTOP", "_NET_WM_STATE"});
    EXPECT_TRUE(said.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295")) << said.toStdString();
    if (root("_NET_SUPPORTED").contains("_NET_WM_STATE_STICKY")) {
        EXPECT_TRUE(said.contains("_NET_WM_STATE_STICKY")) << said.toStdString();
    }
    // What the panels' task lists and the pagers read to leave a window out.
    EXPECT_TRUE(said.contains("_NET_WM_STATE_SKIP_TASKBAR")) << said.toStdString();
    EXPECT_TRUE(said.contains("_NET_WM_STATE_SKIP_PAGER")) << said.toStdString();

    ASSERT_TRUE(switchTo(1));
    // A window left behind is unmapped as the switch ends, which may follow the property's news.
    EXPECT_FALSE(waitFor(
        [&] {
            return !viewable(*panel);
        },
        300))
        << "left behind on the first workspace";
    EXPECT_TRUE(switchTo(0));
    JobStore::shared().cancel(id);
    JobStore::shared().clearFinished();
}
