#include "programs/cli.h"

#include "core/base/file_safety.h"
#include "core/jobs/worker_pool.h"
#include "core/state/export_chime.h"
#include "documents/office_notices.h"
#include "programs/maintenance_modes.h"
#include "menus/action_chooser.h"
#include "menus/burst_panel.h"
#include "menus/desktop_theme.h"
#include "platform/desktop_entry.h"
#include "platform/desktop_services.h"
#include "platform/qt_translations.h"
#include "programs/render_modes.h"
#include "programs/scenarios.h"
#include "shell/app_delegate.h"
#include "shell/app_lifecycle.h"
#include "shell/single_instance.h"
#include "programs/trim_modes.h"

#include <QApplication>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <unistd.h>

namespace Cli {

namespace {

int appArgc = 1;
char* appArgv[2] = {nullptr, nullptr};
std::string programName;

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
        {"--diagnostics", 2, nullptr, MaintenanceModes::diagnostics},
        {"--check-updates", 2, nullptr, MaintenanceModes::checkUpdates},
        {"--export-chime", 3, nullptr,
            [] {
                exitNow(ExportChime::run(args) ? ExitCode::done : ExitCode::failed);
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
        {"--play-test", 5, nullptr, TrimModes::playTest},
        {"--hud-test", 4, nullptr, Scenarios::hudTest},
        {"--single-cycle-test", 3, nullptr, Scenarios::singleCycleTest},
        {"--wheel-cycle-test", 2, nullptr, Scenarios::wheelCycleTest},
        {"--cancel-test", 4, nullptr, Scenarios::cancelTest},
        {"--render-trim", 4, nullptr, TrimModes::renderTrim},
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
        // Without a session's runtime folder Qt makes "runtime-<user>" in the temporary folder
        // and leaves it there after every run; a private one goes with the run.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            auto pattern = (std::filesystem::temp_directory_path() / "brivlon-runtime-XXXXXX").string();
            if (::mkdtemp(pattern.data())) {
                removeAtExit(pattern);
                qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(pattern));
            }
        }
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
    // The name people read, which Qt takes from the executable ("brivlon") unless told: the tray
    // item's title, the title of a window that has none, the window class.
    QCoreApplication::setApplicationName(QStringLiteral("Brivlon"));
    // Numbers that tools and files read are written the C way, whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    if (!headless) {
        // Sounds and questions reach the desktop only in the windowed lives of the process.
        DesktopServices::install();
        QtTranslations::install();
        BurstPanel::install();
        ActionChooser::installDialogs();
        DesktopTheme::install();
        OfficeNotices::install();
        TrimModes::installLook();
    }
}

int normalStart()
{
    // The drag gesture needs X11: a Wayland session runs the program through XWayland, and with
    // no display at all there is nothing to live in.
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY")) {
        std::fprintf(stderr,
            "o Brivlon precisa de uma sessão gráfica (X11) para ficar na bandeja; "
            "--convert funciona sem ela\n");
        exitNow(ExitCode::failed);
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    makeApplication(false);
    // A second start hands its files (or a "show yourself") to the first and leaves.
    std::vector<std::filesystem::path> files;
    for (size_t i = 1; i < args.size(); ++i)
        if (std::error_code error; std::filesystem::exists(args[i], error))
            files.push_back(std::filesystem::absolute(args[i]).lexically_normal());
    std::optional<SingleInstance::StartLock> turn(std::in_place);
    if (SingleInstance::forward(files, 1000))
        exitNow(ExitCode::done);
    AppLifecycle::install();
    // The only strong reference to the delegate for the whole run.
    auto delegate = std::make_unique<AppDelegate>();
    SingleInstance instance;
    const bool first = instance.listen([d = delegate.get()](const SingleInstance::Files& opened) {
        if (opened.empty())
            d->reopen();
        else
            d->open(opened);
    });
    // A start that waited past the lock may find one listening after all.
    if (!first && SingleInstance::forward(files, 1000))
        exitNow(ExitCode::done);
    turn.reset();
    DesktopEntry::install(QCoreApplication::applicationFilePath().toStdString());
    // The first conversion finds its worker loaded.
    WorkerPool::shared()->prewarm();
    QTimer::singleShot(0, delegate.get(), [d = delegate.get(), files] {
        d->applicationDidFinishLaunching();
        d->open(files);
    });
    const int code = QApplication::exec();
    // Quitting ended every job, its worker and its tools, and whatever the run keeps (settings,
    // the error log, outputs) was written as it happened. What remains is the libraries' own
    // teardown (the sound and media modules, the bus, the thread pools, the windows), which
    // saves nothing and after a run of jobs can hold the exit for seconds: leave without it.
    exitNow(code);
}

}
