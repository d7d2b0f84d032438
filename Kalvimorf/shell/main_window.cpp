#include "shell/main_window.h"

#include "settings/feedback.h"
#include "settings/updates.h"
#include "shell/app_delegate.h"
#include "shell/app_model.h"
#include "shell/main_menu.h"
#include "shell/main_view.h"

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>

namespace {

void showAbout(QWidget* parent)
{
    QMessageBox::about(parent, "Sobre o Brivlon",
        "<p align=center><b>Brivlon</b> " + Updates::displayVersion().toHtmlEscaped()
            + "</p><p align=center>Converta qualquer arquivo sem sair do arraste.<br>Tudo processado no seu Mac, "
              "offline.</p>");
}

}

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
    actions.showAbout = [this] {
        showAbout(this);
    };
    actions.showSettings = [] {
        AppDelegate::showSettings();
    };
    actions.checkForUpdates = [] {
        Updates::shared().check(true);
    };
    actions.reportProblem = [] {
        Feedback::shared().open();
    };
    actions.quit = [] {
        QApplication::quit();
    };
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
