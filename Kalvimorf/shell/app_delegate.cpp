#include "shell/app_delegate.h"
#include "shell/app_lifecycle.h"

#include "core/base/appearance.h"
#include "core/base/settings.h"
#include "core/jobs/job_store.h"
#include "core/state/file_viewer.h"
#include "core/state/login_item.h"
#include "documents/component_installer.h"
#include "menus/card_fan_layout.h"
#include "menus/desktop_theme.h"
#include "menus/drag_monitor.h"
#include "menus/drawing_kit.h"
#include "menus/status_icon.h"
#include "menus/wheel_controller.h"
#include "menus/wheel_window.h"
#include "platform/workspace_watch.h"
#include "settings/office_component.h"
#include "settings/settings_window.h"
#include "settings/updates.h"
#include "shell/app_commands.h"
#include "shell/app_model.h"
#include "shell/hud_controller.h"
#include "shell/main_window.h"
#include "shell/status_menu.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// Linux trays show the icon as drawn. Its ink follows the desktop's scheme, not the appearance
// chosen for the program's windows; its rim makes it read on a panel of the other tone too.
QIcon trayIcon(std::optional<double> progress)
{
    // Drawn at the sizes trays use (16 to 24 pixels, twice that on dense screens), not scaled from
    // one: scaled, the rim and the progress bar blur into the panel.
    QIcon icon;
    for (int side : {16, 18, 22, 24, 32, 36, 44, 48})
        icon.addPixmap(
            QPixmap::fromImage(StatusIcon::trayImage(progress, side / StatusIcon::points, Theme::desktopIsDark())));
    return icon;
}

// The update offer's mark: a filled disc with a downward arrow cut out of it, in the menu's text
// colour, drawn here so that every desktop's icon theme shows the same one.
QIcon downloadSymbol()
{
    QIcon icon;
    const QColor ink = QApplication::palette().color(QPalette::Active, QPalette::WindowText);
    for (int side : {16, 32}) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 16.0, side / 16.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        QPen arrow(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(arrow);
        painter.setBrush(Qt::NoBrush);
        painter.drawLine(QPointF(8, 4.2), QPointF(8, 11.2));
        painter.drawPolyline(QPolygonF{QPointF(5, 8.4), QPointF(8, 11.4), QPointF(11, 8.4)});
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QKeySequence shortcut(const std::string& key)
{
    return key.empty() ? QKeySequence() : QKeySequence(QString("Ctrl+") + QString::fromStdString(key).toUpper());
}

void revealJob(const QUuid& id)
{
    const auto& jobs = JobStore::shared().jobs();
    const auto job = std::find_if(jobs.begin(), jobs.end(), [&](const Job& j) {
        return j.id == id;
    });
    if (job == jobs.end())
        return;
    const bool hasFile
        = job->state.url && (job->state.is(Job::State::Kind::done) || job->state.is(Job::State::Kind::info));
    if (hasFile) {
        if (auto viewer = FileViewer::shared())
            viewer->reveal(*job->state.url);
        return;
    }
    HudController::setHidden(false);
}

// BRIVLON_TRACE=1 has the program say on standard output what the whole-road test waits for:
// start-up done, the menu on screen (how long after the trigger, and where its first card is),
// the entry of the menu that took a drag, the menu gone, the quality cards up, jobs done, files
// opened, the main window shown, active or closed.
bool tracing()
{
    static const bool on = std::getenv("BRIVLON_TRACE") != nullptr;
    return on;
}

void trace(const std::string& line)
{
    if (!tracing())
        return;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Reports the menu's first frame after a trigger: the widget paints, then the time is taken, so
// the figure covers the whole first frame.
class FirstFrame final : public QObject {
public:
    FirstFrame(WheelWindow& window, std::chrono::steady_clock::time_point triggered)
        : window_(window), triggered_(triggered)
    {
        for (QWidget* surface : {static_cast<QWidget*>(&window.fan()), static_cast<QWidget*>(&window.wheel())})
            surface->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        for (QWidget* surface : {static_cast<QWidget*>(&window_.fan()), static_cast<QWidget*>(&window_.wheel())})
            surface->removeEventFilter(this);
        QCoreApplication::sendEvent(watched, event);
        const auto ms
            = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - triggered_).count();
        QPoint card = window_.panel().geometry().center();
        if (watched == &window_.fan()) {
            const auto& state = window_.fan().state();
            const auto centre = FanGeometry::centre(
                state.size, state.opensDown, FanGeometry::baseAngle(0, int(state.cards.size())), FanGeometry::radius);
            card = window_.fan().mapToGlobal(Draw::fromYUp(centre, state.size.height()).toPoint());
        }
        char line[96];
        std::snprintf(line, sizeof line, "menu na tela %.1f ms %d %d", ms, card.x(), card.y());
        trace(line);
        deleteLater();
        return true;
    }

private:
    WheelWindow& window_;
    std::chrono::steady_clock::time_point triggered_;
};

}

AppDelegate::AppDelegate() : dock_(DockPresence::sendBadge) { }

AppDelegate::~AppDelegate() = default;

void AppDelegate::quit() { AppLifecycle::quit(); }

std::vector<QWidget*> AppDelegate::appWindows()
{
    std::vector<QWidget*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        const auto type = widget->windowType();
        // Beside an XEmbed tray Qt's icon is a window of its own too, visible and untitled: taken
        // for the program's, a second start only raised it and the main window never came.
        const bool titled = !widget->windowFlags().testAnyFlags(
            Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::X11BypassWindowManagerHint);
        if ((type == Qt::Window || type == Qt::Dialog) && titled)
            windows.push_back(widget);
    }
    return windows;
}

bool AppDelegate::titledWindowShown()
{
    const auto windows = appWindows();
    return std::any_of(windows.begin(), windows.end(), [](QWidget* window) {
        return window->isVisible() || window->isMinimized();
    });
}

void AppDelegate::configureLoginItemOnce()
{
    if (Defaults::flag(SettingKey::loginItemConfigured))
        return;
    // Written first: a failure is not retried, the user can switch it on in the settings.
    Defaults::set(SettingKey::loginItemConfigured, true);
    if (auto item = LoginItem::shared(); item && !item->isEnabled())
        item->setEnabled(true);
}

QRectF AppDelegate::settingsFrame(QRectF frame, QRectF visible)
{
    if (frame.width() < 520 || frame.height() < 380)
        frame.setSize({540, 600});
    const double height = std::min(visible.height() - 20, frame.height());
    const double width = std::min(visible.width() - 20, frame.width());
    const double x = std::min(visible.right() - width - 10, std::max(frame.x(), visible.left() + 10));
    const double y = std::max(visible.top() + 10, std::min(frame.y(), visible.bottom() - height - 10));
    return {x, y, width, height};
}

void AppDelegate::showSettings()
{
    auto& window = SettingsWindow::shared();
    const bool first = !window.isVisible();
    SettingsWindow::showWindow();
    if (!first)
        return;
    auto* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (screen)
        window.setGeometry(settingsFrame(window.geometry(), screen->availableGeometry()).toRect());
}

void AppDelegate::applicationDidFinishLaunching()
{
    // The order matters: the drag monitor starts polling only once every callback and observer it
    // can reach is in place, and the dock watch comes last so that its first look sees everything.
    configureLoginItemOnce();
    Theme::apply();
    setupStatusItem();
    OfficeComponent::useInstaller();
    ComponentInstaller::shared().installIfNeeded();
    Updates::shared().start();
    hud_ = std::make_unique<HudController>(JobStore::shared());
    wheel_ = std::make_unique<WheelController>();
    static_cast<WheelWindow&>(wheel_->host()).warmUp();
    dragMonitor_ = std::make_unique<DragMonitor>();
    dragMonitor_->onTrigger = [this](std::optional<WheelMode> mode, const DragMonitor::Files& files) {
        const auto triggered = std::chrono::steady_clock::now();
        const bool wasOpen = wheel_->host().panelVisible();
        const QPointF position = QCursor::pos();
        if (mode)
            wheel_->trigger(*mode, files, position);
        else
            wheel_->cycle(files, position);
        if (tracing() && !wasOpen && wheel_->mode())
            new FirstFrame(static_cast<WheelWindow&>(wheel_->host()), triggered);
    };
    dragMonitor_->onDragEnded = [this] {
        wheel_->hideSoon();
    };
    const auto letGo = [this] {
        if (!wheel_->choosingQuality())
            wheel_->hide();
    };
    dragMonitor_->onCancel = letGo;
    dragMonitor_->onRelease = letGo;
    workspace_ = std::make_unique<WorkspaceWatch>([this] {
        wheel_->hide();
    });
    dragMonitor_->start();
    // The main menu lives on the main window's menu bar and is built with the window.
    watchDockPresence();
    if (tracing())
        traceProgress();
    // Without a tray the program would be unreachable; the window stands in for it.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        MainWindow::shared().present();
    launched_ = true;
    trace("pronto");
}

void AppDelegate::traceProgress()
{
    wheel_->onQualityShown = [] {
        trace("qualidade na tela");
    };
    // Once per entry while a menu is open: a drag answered at every motion would bury the rest.
    auto& window = static_cast<WheelWindow&>(wheel_->host());
    for (MenuSurface* surface : {static_cast<MenuSurface*>(&window.fan()), static_cast<MenuSurface*>(&window.wheel())})
        surface->onDragTaken = [this](const WheelEntry& entry) {
            if (std::exchange(tracedDragTaken_, entry.label) != entry.label)
                trace("arrasto aceito em " + entry.label);
        };
    JobStore::shared().subscribe(this, [this](const std::vector<Job>& jobs) {
        for (const auto& job : jobs)
            if (job.state.is(Job::State::Kind::done) && !tracedDone_.contains(job.id)) {
                tracedDone_.insert(job.id);
                trace("concluído " + job.state.url->string() + (hud_->isShown() ? " no painel" : ""));
            }
    });
}

void AppDelegate::setupStatusItem()
{
    iconDark_ = Theme::desktopIsDark();
    statusItem_ = std::make_unique<QSystemTrayIcon>(trayIcon(std::nullopt));
    statusItem_->setToolTip("Brivlon");
    statusMenu_ = std::make_unique<QMenu>();
    // Filled now and kept current from here on, not when it opens: a StatusNotifier host reads the
    // entries over D-Bus, and the Xfce panel reads them without announcing the opening.
    refreshStatusMenu();
    // What changed while the menu was open and could not add or remove its rows.
    connect(statusMenu_.get(), &QMenu::aboutToHide, this, [this] {
        QTimer::singleShot(0, this, &AppDelegate::refreshStatusMenu);
    });
    connect(&Notifications::shared(), &Notifications::hudVisibilityChanged, this, &AppDelegate::refreshStatusMenu);
    connect(&Updates::shared(), &Updates::changed, this, &AppDelegate::refreshStatusMenu);
    statusItem_->setContextMenu(statusMenu_.get());
    // A left click opens the same menu as the right one. A StatusNotifier host asks with Activate,
    // since Qt's item tells it that the item is no menu; an XEmbed tray hands over the button.
    // Neither says where the icon is, but the pointer is on it.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger || statusMenu_->isVisible())
            return;
        statusMenu_->popup(QCursor::pos());
        if (statusMenu_->isVisible())
            trace("menu da bandeja na tela");
    });
    for (auto change : {&Theme::Notifier::themeChanged, &Theme::Notifier::desktopSchemeChanged})
        connect(&Theme::Notifier::shared(), change, this, [this] {
            const bool dark = Theme::desktopIsDark();
            if (std::exchange(iconDark_, dark) != dark)
                statusItem_->setIcon(trayIcon(shownProgress_));
        });
    statusItem_->show();
}

void AppDelegate::refreshStatusMenu()
{
    // Rows are neither added nor removed under the user's eyes; updateStatusItem retitles them.
    if (!statusMenu_ || statusMenu_->isVisible())
        return;
    const auto& offer = Updates::shared().update();
    const auto items = StatusMenu::items(JobStore::shared().jobs(), Defaults::flag(SettingKey::hudHidden),
        offer ? std::optional(offer->versao.toStdString()) : std::nullopt);
    auto shape = StatusMenu::shape(items);
    if (shape == statusMenuShape_) {
        // A new title is a D-Bus signal to the host: only the rows whose words changed.
        for (const auto& item : items)
            if (item.job)
                if (const auto row = jobMenuItems_.find(*item.job); row != jobMenuItems_.end())
                    if (const auto title = QString::fromStdString(item.title); (*row)->text() != title)
                        (*row)->setText(title);
        return;
    }
    statusMenuShape_ = std::move(shape);
    // clear() deletes the menu's actions, not the submenus they carry.
    for (QAction* action : statusMenu_->actions())
        if (action->menu())
            action->menu()->deleteLater();
    statusMenu_->clear();
    jobMenuItems_.clear();
    const std::function<void(QMenu*, const std::vector<StatusMenu::Item>&)> fill = [&](QMenu* menu, const auto& items) {
        for (const auto& item : items) {
            if (item.separator) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromStdString(item.title));
            action->setEnabled(item.enabled);
            action->setShortcut(shortcut(item.key));
            if (!item.submenu.empty()) {
                auto* sub = new QMenu(menu);
                fill(sub, item.submenu);
                action->setMenu(sub);
            }
            const auto job = item.job;
            switch (item.action) {
            case StatusMenu::Action::none: break;
            case StatusMenu::Action::revealJob:
                jobMenuItems_.insert(*job, action);
                connect(action, &QAction::triggered, this, [job] {
                    revealJob(*job);
                });
                break;
            case StatusMenu::Action::cancelJob:
                connect(action, &QAction::triggered, this, [job] {
                    JobStore::shared().cancel(*job);
                });
                break;
            case StatusMenu::Action::cancelAllJobs:
                connect(action, &QAction::triggered, this, [] {
                    JobStore::shared().cancelAll();
                });
                break;
            case StatusMenu::Action::toggleHud:
                connect(action, &QAction::triggered, this, [] {
                    HudController::setHidden(!Defaults::flag(SettingKey::hudHidden));
                });
                break;
            case StatusMenu::Action::showWindow:
                connect(action, &QAction::triggered, this, [] {
                    MainWindow::shared().present();
                });
                break;
            case StatusMenu::Action::reportProblem:
                connect(action, &QAction::triggered, this, AppCommands::openReport);
                break;
            case StatusMenu::Action::showSettings:
                connect(action, &QAction::triggered, this, AppCommands::showSettings);
                break;
            case StatusMenu::Action::checkForUpdates:
                connect(action, &QAction::triggered, this, AppCommands::checkForUpdatesNow);
                break;
            case StatusMenu::Action::downloadUpdate:
                action->setIcon(downloadSymbol());
                connect(action, &QAction::triggered, this, [] {
                    Updates::shared().openDownload();
                });
                break;
            case StatusMenu::Action::quit: connect(action, &QAction::triggered, this, &AppDelegate::quit); break;
            }
        }
    };
    fill(statusMenu_.get(), items);
}

void AppDelegate::updateStatusItem(const std::vector<Job>& jobs)
{
    refreshStatusMenu();
    // Rows of an open menu follow their jobs; rows are added or removed only once it has closed.
    if (statusMenu_ && statusMenu_->isVisible()) {
        for (const auto& job : jobs) {
            const auto row = jobMenuItems_.find(job.id);
            if (row == jobMenuItems_.end())
                continue;
            (*row)->setText(QString::fromStdString(StatusMenu::menuTitle(job)));
            if (!job.isRunning() && (*row)->menu()) {
                (*row)->menu()->deleteLater();
                (*row)->setMenu(nullptr);
            }
        }
    }
    if (!statusItem_)
        return;
    const auto progress = StatusMenu::iconProgress(jobs);
    if (progress != shownProgress_) {
        shownProgress_ = progress;
        statusItem_->setIcon(trayIcon(progress));
    }
    const auto title = StatusMenu::trayTitle(jobs);
    statusItem_->setToolTip(title.empty() ? QString("Brivlon") : QString::fromStdString(title).trimmed());
}

void AppDelegate::watchDockPresence()
{
    qApp->installEventFilter(this);
    JobStore::shared().subscribe(this, [this](const std::vector<Job>& jobs) {
        dock_.jobsChanged(jobs, titledWindowShown());
        updateStatusItem(jobs);
    });
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    const bool windowChange
        = type == QEvent::Show || type == QEvent::Hide || type == QEvent::Close || type == QEvent::WindowStateChange;
    if (windowChange && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
        scheduleDockUpdate();
    // From "pronto" on: the window a start without a tray opens comes before it.
    if (tracing() && launched_ && dynamic_cast<MainWindow*>(watched)) {
        if (type == QEvent::Show)
            trace("janela principal na tela");
        else if (type == QEvent::WindowActivate)
            trace("janela principal ativa");
        else if (type == QEvent::Hide)
            trace("janela principal fechada");
    }
    if (type == QEvent::Hide && wheel_ && watched == &static_cast<WheelWindow&>(wheel_->host()).panel()) {
        tracedDragTaken_.clear();
        trace("menu fechado");
    }
    return false;
}

void AppDelegate::scheduleDockUpdate()
{
    // After the window's change has taken effect.
    if (std::exchange(dockUpdatePending_, true))
        return;
    QTimer::singleShot(0, this, [this] {
        dockUpdatePending_ = false;
        dock_.update(titledWindowShown(), JobStore::shared().jobs());
    });
}

void AppDelegate::open(const std::vector<std::filesystem::path>& files)
{
    std::vector<std::filesystem::path> local;
    for (const auto& file : files)
        if (file.is_absolute())
            local.push_back(file);
    if (local.empty())
        return;
    MainWindow::shared().open(local);
    // What the window holds, once it is up: the files reached it, not only this call.
    if (MainWindow::shared().isVisible())
        for (const auto& file : AppModel::shared().files())
            trace("aberto " + file.string());
}

void AppDelegate::reopen()
{
    const auto windows = appWindows();
    for (QWidget* window : windows)
        if (window->isMinimized()) {
            window->showNormal();
            window->activateWindow();
            return;
        }
    for (QWidget* window : windows)
        if (window->isVisible()) {
            window->raise();
            window->activateWindow();
            return;
        }
    MainWindow::shared().present();
}
