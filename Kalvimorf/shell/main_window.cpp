#include "shell/main_window.h"

#include "platform/window_places.h"
#include "shell/about_box.h"
#include "shell/app_commands.h"
#include "shell/app_lifecycle.h"
#include "shell/app_model.h"
#include "shell/main_menu.h"
#include "shell/main_view.h"

#include <QMenuBar>
#include <QScreen>

MainWindow& MainWindow::shared()
{
    static auto* window = new MainWindow;
    return *window;
}

MainWindow::MainWindow() : view_(new MainView(AppModel::shared()))
{
    setWindowTitle("Brivlon");
    setCentralWidget(view_);
    MainMenu::Actions actions;
    actions.chooseFiles = [this] {
        view_->choose();
    };
    actions.showAbout = AboutBox::show;
    actions.showSettings = AppCommands::showSettings;
    actions.checkForUpdates = AppCommands::checkForUpdatesNow;
    actions.reportProblem = AppCommands::openReport;
    actions.quit = AppLifecycle::quit;
    MainMenu::build(*menuBar(), *this, actions);
    // The content has its own size; the window is exactly that plus its menu bar.
    setFixedSize(view_->width(), view_->height() + menuBar()->sizeHint().height());
}

void MainWindow::present()
{
    // Centred at its first showing; from then on it comes back where it was left, also where the
    // window manager would place a new window elsewhere.
    if (!placed_) {
        placed_ = true;
        centre();
    }
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::centre()
{
    if (auto* screen = WindowPlaces::screenForNew()) {
        placedAt_ = WindowPlaces::centred(frameGeometry().size(), screen->availableGeometry());
        move(*placedAt_);
    }
}

// The title bar's height is known only once the window manager has framed the window: then the
// first placing is done again with it, unless the window has been moved meanwhile.
void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (placedAt_ && frameGeometry().size() != size()) {
        if (frameGeometry().topLeft() == *placedAt_)
            centre();
        placedAt_.reset();
    }
}

void MainWindow::open(const std::vector<fs::path>& files)
{
    AppModel::shared().setFiles(files);
    present();
}
