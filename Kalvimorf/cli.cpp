#include "cli.h"

#include "core/state/export_chime.h"
#include "core/jobs/office_notices.h"
#include "core/jobs/worker_pool.h"
#include "maintenance_modes.h"
#include "menus/action_chooser.h"
#include "menus/burst_panel.h"
#include "menus/desktop_theme.h"
#include "platform/desktop_services.h"
#include "render_modes.h"
#include "shell/app_delegate.h"
#include "shell/app_lifecycle.h"

#include <QApplication>
#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>

namespace Cli {

namespace {

int appArgc = 1;
char* appArgv[2] = {nullptr, nullptr};
std::string programName;

// Rows whose modes are not part of this build yet: they never win, exactly like a row whose
// check fails.
Row notYet(const char* option, int minimum)
{
    return {option, minimum,
        [] {
            return false;
        },
        nullptr};
}

}

const std::vector<Row>& table()
{
    static const std::vector<Row> rows = {
        {"--render-wheel-anim", 5,
            [] {
                return RenderModes::takesMode(2);
            },
            RenderModes::wheelAnimation},
        {"--install-components", 2, nullptr, MaintenanceModes::installComponents},
        notYet("--diagnostics", 2),
        notYet("--check-updates", 2),
        {"--export-chime", 3, nullptr,
            [] {
                exitNow(ExportChime::run(args));
            }},
        {"--render-burst", 3, nullptr, RenderModes::burst},
        {"--render-status", 3, nullptr, RenderModes::status},
        {"--render-view", 4, nullptr, RenderModes::view},
        {"--render-quality", 4, RenderModes::qualityTaken, RenderModes::quality},
        {"--render-fan", 5, RenderModes::fanTaken, RenderModes::fan},
        {"--render-wheel", 5,
            [] {
                return RenderModes::takesMode(2);
            },
            RenderModes::wheel},
        notYet("--trim", 7),
        notYet("--play-test", 5),
        notYet("--hud-test", 4),
        notYet("--single-cycle-test", 3),
        notYet("--wheel-cycle-test", 2),
        notYet("--cancel-test", 4),
        notYet("--render-trim", 4),
    };
    return rows;
}

void dispatch() { walk(table()); }

void makeApplication(bool headless)
{
    if (QCoreApplication::instance())
        return;
    if (headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Standard error belongs to the mode's own messages ("erro: …"); Qt's chatter about the
        // session (a missing runtime folder and the like) would only bury them.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        });
    }
    programName = args.empty() ? std::string("brivlon") : args.front();
    appArgv[0] = programName.data();
    new QApplication(appArgc, appArgv);
    // Numbers that tools and files read are written the C way, whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    if (!headless) {
        // Sounds and questions reach the desktop only in the windowed lives of the process.
        DesktopServices::install();
        BurstPanel::install();
        ActionChooser::installDialogs();
        DesktopTheme::install();
        OfficeNotices::install();
    }
}

int normalStart()
{
    makeApplication(false);
    AppLifecycle::install();
    // The first conversion finds its worker loaded.
    WorkerPool::shared()->prewarm();
    // The only strong reference to the delegate for the whole run.
    auto delegate = std::make_unique<AppDelegate>();
    QTimer::singleShot(0, delegate.get(), [d = delegate.get()] {
        d->applicationDidFinishLaunching();
    });
    int code = QApplication::exec();
    return code;
}

void finishCLI(int code)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [code] {
            exitNow(code);
        },
        Qt::QueuedConnection);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(60));
}

}
