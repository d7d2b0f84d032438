#pragma once

#include "core/jobs/job.h"
#include "shell/dock_presence.h"

#include <QHash>
#include <QObject>
#include <QRectF>
#include <QSet>
#include <QUuid>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class DragMonitor;
class HudController;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class WheelController;
class WorkspaceWatch;

// The tray program: wires the tray icon and its menu, the progress panel, the card menus with the
// drag monitor, and the windows. Built with nothing; all start-up work happens in
// applicationDidFinishLaunching(), which the event loop calls. Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;
    void applicationDidFinishLaunching();

    // Files handed to the program ("Open with", the launcher, a second start): the local files
    // become the main window's selection; nothing else opens anything.
    void open(const std::vector<std::filesystem::path>& files);
    // A second start without files: a minimised window comes back, else the first shown one comes
    // to the front, else the main window opens.
    void reopen();
    // Ends the program; the one place "Sair do Brivlon" goes through.
    static void quit();

    // Shows the settings window, placed on its screen by settingsFrame when it was hidden.
    static void showSettings();
    // Where the settings window goes on a screen's visible area: a window smaller than 520 × 380
    // becomes 540 × 600, it shrinks to leave 10 points on each side, and it is pushed in from the
    // left and the bottom, then from the right and the top, which win.
    static QRectF settingsFrame(QRectF frame, QRectF visible);
    // The first start asks for the session's autostart once; later starts never ask again,
    // whatever the user did with it meanwhile.
    static void configureLoginItemOnce();

    // The program's own titled windows: top-level windows that are neither tool windows nor popups.
    static std::vector<QWidget*> appWindows();

    WheelController* wheel() const { return wheel_.get(); }
    QMenu* statusMenu() const { return statusMenu_.get(); }

private:
    void setupStatusItem();
    void traceProgress();
    // Keeps the menu's entries current while it is closed: a StatusNotifier host (the Xfce
    // panel) builds its menu from them without asking for a refresh first.
    void refreshStatusMenu();
    void updateStatusItem(const std::vector<Job>& jobs);
    void watchDockPresence();
    void scheduleDockUpdate();
    static bool titledWindowShown();

    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<QMenu> statusMenu_;
    std::unique_ptr<WheelController> wheel_;
    std::unique_ptr<DragMonitor> dragMonitor_;
    std::unique_ptr<HudController> hud_;
    std::unique_ptr<WorkspaceWatch> workspace_;
    QHash<QUuid, QAction*> jobMenuItems_;
    std::string statusMenuShape_;
    DockPresence dock_;
    std::optional<double> shownProgress_;
    bool iconDark_ = false;
    bool dockUpdatePending_ = false;
    bool launched_ = false;
    QSet<QUuid> tracedDone_;
    // The entry of the open menu that last took a drag, as traced.
    std::string tracedDragTaken_;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
