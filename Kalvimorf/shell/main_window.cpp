#include "shell/main_window.h"

#include "shell/about_box.h"
#include "shell/app_commands.h"
#include "shell/app_lifecycle.h"
#include "shell/app_model.h"
#include "shell/main_menu.h"
#include "shell/main_view.h"

#include <QMenuBar>

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
    actions.showWindow = [this] {
        present();
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
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::open(const std::vector<fs::path>& files)
{
    AppModel::shared().setFiles(files);
    present();
}
