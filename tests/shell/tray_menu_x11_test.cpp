// The tray program in this process on a private X server: its menu, opened, follows jobs that
// finish, fail or are cancelled while it stays open; the window manager's word that another
// application is active or another workspace is shown reaches the cards. Run through
// support/with-x.
#include "core/jobs/job_store.h"
#include "platform/workspace_watch.h"
#include "shell/app_delegate.h"
#include "shell/app_model.h"
#include "shell/main_window.h"
#include "shell/status_menu.h"
#include "shell/x11_desktop.h"
#include "support/private_home.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QProcess>


#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

QAction* row(QMenu* menu, int index) { return menu->actions().at(index); }

void settle(int ms = 100)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

using X11Desktop::showDesktop;
using X11Desktop::waitFor;

}

TEST(TrayMenu, OpenRowsFollowTheirJobs)
{
    auto& store = JobStore::shared();
    const auto failing = store.add("a.mov", "MP4");
    const auto cancelled = store.add("b.mov", "MP4");
    const auto finishing = store.add("c.mov", "MP4");
    for (const auto& id : {failing, cancelled, finishing})
        store.markStarted(id);
    store.setProgress(finishing, 0.5);

    AppDelegate app;
    app.applicationDidFinishLaunching();
    QMenu* menu = app.statusMenu();
    // Filled before it ever opens: a StatusNotifier host reads the entries without opening it.
    ASSERT_GT(menu->actions().size(), 4);
    EXPECT_EQ(row(menu, 0)->text().toStdString(), "c.mov → MP4   50%");
    menu->popup(QPoint(200, 200));
    settle();
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(row(menu, 0)->text().toStdString(), "c.mov → MP4   50%");
    ASSERT_NE(row(menu, 0)->menu(), nullptr);
    EXPECT_EQ(row(menu, 4)->text().toStdString(), "Cancelar tudo");

    store.finish(finishing, Job::State::done("/tmp/c.mp4"));
    store.cancel(cancelled);
    store.finish(failing, Job::State::failed("não deu"));
    settle();
    EXPECT_EQ(row(menu, 0)->text().toStdString(), "c.mov → MP4   ✓");
    EXPECT_EQ(row(menu, 1)->text().toStdString(), "b.mov → MP4   cancelado");
    EXPECT_EQ(row(menu, 2)->text().toStdString(), "a.mov → MP4   falhou");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(row(menu, i)->menu(), nullptr) << "a stopped job keeps no \"Cancelar\"";
    EXPECT_EQ(row(menu, 4)->text().toStdString(), "Cancelar tudo") << "rows stay until the menu opens again";

    // Cleared while open: the rows keep their last words, and nothing breaks after the close.
    store.clearFinished();
    menu->hide();
    const auto added = store.add("d.mov", "MP4");
    settle();
    // Closed, it follows the jobs: the new row is there before the menu opens; a new per cent
    // retitles that row and keeps it (a host keeps the entries it was given).
    EXPECT_EQ(row(menu, 0)->text().toStdString(), "d.mov → MP4   na fila");
    QAction* shown = row(menu, 0);
    store.markStarted(added);
    store.setProgress(added, 0.25);
    settle();
    EXPECT_EQ(row(menu, 0), shown);
    EXPECT_EQ(shown->text().toStdString(), "d.mov → MP4   25%");
    menu->popup(QPoint(200, 200));
    settle();
    EXPECT_EQ(row(menu, 0)->text().toStdString(), "d.mov → MP4   25%");
    menu->hide();
    store.cancelAll();
}

// What a second start hands over (its files, or only "show yourself") reaches the real main window.
TEST(TrayProgram, OpenedFilesAndReopeningPresentTheMainWindow)
{
    AppDelegate app;
    auto& window = MainWindow::shared();
    window.hide();
    app.open({"relativo.png"});
    EXPECT_FALSE(window.isVisible()) << "nothing local: nothing opens";
    app.open({"/tmp/uma foto.png", "/tmp/b.mov"});
    EXPECT_TRUE(waitFor([&] {
        return window.isVisible();
    }));
    EXPECT_EQ(AppModel::shared().files(), (std::vector<std::filesystem::path>{"/tmp/uma foto.png", "/tmp/b.mov"}));

    window.close();
    settle();
    app.reopen();
    EXPECT_TRUE(waitFor([&] {
        return window.isVisible();
    })) << "closed, it comes back";
    EXPECT_EQ(AppModel::shared().files().size(), 2u) << "with what it held";

    window.showMinimized();
    ASSERT_TRUE(waitFor([&] {
        return window.isMinimized();
    }));
    app.reopen();
    EXPECT_TRUE(waitFor([&] {
        return !window.isMinimized() && window.isVisible();
    })) << "minimised, it is restored";
    window.hide();
}

TEST(WorkspaceWatch, AnotherApplicationOrWorkspaceIsNews)
{
    int news = 0;
    WorkspaceWatch watch([&] {
        ++news;
    });
    QWidget own;
    own.setWindowTitle("own");
    own.show();
    own.activateWindow();
    settle(400);
    EXPECT_EQ(news, 0) << "this program's own window becoming active is no news";

    QProcess other;
    other.start(DRAG_SOURCE, {"/tmp/x.png"});
    ASSERT_TRUE(waitFor([&] {
        return other.canReadLine();
    }));
    EXPECT_TRUE(waitFor([&] {
        return news > 0;
    })) << "the drag source's window became active unnoticed";

    // A workspace other than the one shown, which an earlier test may have left on any; asked
    // again now and then, and after 3 seconds its word is written for the window manager.
    const int before = news;
    const std::uint32_t elsewhere = X11Desktop::currentDesktop() == 1 ? 2 : 1;
    QElapsedTimer asked, since;
    since.start();
    EXPECT_TRUE(waitFor(
        [&] {
            if (!asked.isValid() || asked.elapsed() > 200) {
                showDesktop(elsewhere, since.elapsed() > 3000);
                asked.start();
            }
            return news > before;
        },
        20000));
    showDesktop(0);
    other.kill();
    other.waitForFinished();
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const TestSupport::PrivateHome home;
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // Start-up asks for the office component and checks for updates; a test never goes out.
    setenv("BRIVLON_FORCE_OFFLINE", "1", 1);
    setenv("BRIVLON_UPDATES_URL", "http://127.0.0.1:9/atualizacoes.json", 1);
    // Kept for the whole process, as the program keeps it: shared windows outlive main().
    new QApplication(argc, argv);
    return RUN_ALL_TESTS();
}
