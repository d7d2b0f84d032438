// The tray program in this process on a private X server: its menu, opened, follows jobs that
// finish, fail or are cancelled while it stays open. Run through support/with-x.
#include "core/jobs/job_store.h"
#include "shell/app_delegate.h"
#include "shell/status_menu.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

QAction* row(QMenu* menu, int index) { return menu->actions().at(index); }

void settle()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 100)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

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
    store.add("d.mov", "MP4");
    settle();
    menu->popup(QPoint(200, 200));
    settle();
    EXPECT_EQ(row(menu, 0)->text().toStdString(), "d.mov → MP4   na fila");
    menu->hide();
    store.cancelAll();
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/brivlon-test-XXXXXX";
    const std::filesystem::path home = mkdtemp(pattern);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / ".local/state").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // Kept for the whole process, as the program keeps it: shared windows outlive main().
    new QApplication(argc, argv);
    const int result = RUN_ALL_TESTS();
    std::filesystem::remove_all(home);
    return result;
}
