#include "programs/scenarios.h"

#include "programs/cli.h"
#include "core/base/catalog.h"
#include "core/base/commands.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "menus/wheel_controller.h"
#include "menus/wheel_window.h"
#include "shell/hud_controller.h"
#include "shell/hud_panel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace Scenarios {

namespace {

namespace fs = std::filesystem;

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Runs `step` once `ready` holds, looking every 20 ms. After `limit` seconds it runs anyway, so
// that a state that never comes shows in the printed lines rather than as a run that hangs.
void when(std::function<bool()> ready, std::function<void()> step, double limit = 30)
{
    auto* timer = new QTimer(qApp);
    auto waited = std::make_shared<QElapsedTimer>();
    waited->start();
    QObject::connect(timer, &QTimer::timeout, [timer, waited, limit, ready, step] {
        if (!ready() && !waited->hasExpired(qint64(limit * 1000)))
            return;
        timer->stop();
        timer->deleteLater();
        step();
    });
    timer->start(20);
}

// Runs `step` once, `seconds` from now.
void after(double seconds, std::function<void()> step)
{
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, qApp, std::move(step));
}

// Runs `step` every `seconds` until it answers true.
void every(double seconds, std::function<bool()> step)
{
    auto* timer = new QTimer(qApp);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (step())
            timer->deleteLater();
    });
    timer->start(int(seconds * 1000));
}

[[noreturn]] void runLoop()
{
    QApplication::exec();
    // Steps end the process; a loop that returns anyway falls through to the normal start.
    Cli::normalStart();
    Cli::exitNow(Cli::ExitCode::done);
}

HudPanel* visiblePanel()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* panel = dynamic_cast<HudPanel*>(widget); panel && panel->isVisible())
            return panel;
    return nullptr;
}

// The menu's window mapped and painted on the X server, as a user pressing the next key would see it.
bool menuExposed(WheelController& wheel)
{
    auto* window = dynamic_cast<WheelWindow*>(&wheel.host());
    auto* handle = window ? window->panel().windowHandle() : nullptr;
    return handle && handle->isExposed();
}

// Best effort: no visible panel, or a failed write, leaves nothing behind and goes on.
void snapshot(const std::string& path)
{
    if (auto* panel = visiblePanel())
        panel->snapshot().save(QString::fromStdString(path), "png");
}

bool anyRunning()
{
    const auto& jobs = JobStore::shared().jobs();
    return std::any_of(jobs.begin(), jobs.end(), [](const Job& job) {
        return job.isRunning();
    });
}

// The panel over the shared store, shown, with one WEBM conversion per file.
std::vector<fs::path> panelAndConversions()
{
    HudController::setHidden(false);
    static auto* hud = new HudController(JobStore::shared());
    (void)hud;
    std::vector<fs::path> files;
    for (size_t i = 3; i < Cli::args.size(); ++i) {
        files.push_back(fs::absolute(Cli::args[i]));
        ConversionRunner::shared().run({files.back()}, OutputFormat{"webm", "WEBM", false}, std::nullopt);
    }
    return files;
}

std::string modeWord(const std::optional<WheelMode>& mode) { return mode ? WheelModes::rawValue(*mode) : "-"; }

}

void hudTest()
{
    Cli::makeApplication(false);
    panelAndConversions();
    const std::string out = Cli::args[2];
    after(1.2, [out] {
        snapshot(out);
        HudController::setHidden(true);
        // What shows 0.4 s after the hide, whatever that is: the panel's fade is shorter.
        after(0.4, [] {
            say(std::string("painel visível 0,4 s depois de ocultar: ") + (visiblePanel() ? "sim" : "não"));
        });
        every(0.5, [] {
            if (anyRunning())
                return false;
            for (const auto& job : JobStore::shared().jobs()) {
                if (job.state.is(Job::State::Kind::done))
                    say("✓ concluído oculto: " + job.state.url->filename().string());
                else if (job.state.is(Job::State::Kind::failed))
                    say("✗ " + job.state.message);
            }
            HudController::setHidden(false);
            Cli::exitNow(Cli::ExitCode::done);
        });
    });
    runLoop();
}

void singleCycleTest()
{
    Cli::makeApplication(false);
    auto* wheel = new WheelController();
    const WheelEntry::Paths selection{fs::absolute(Cli::args[2])};
    auto log = std::make_shared<std::vector<std::string>>();
    auto press = std::make_shared<std::function<void(int)>>();
    *press = [=](int k) {
        wheel->cycle(selection, QPointF(600, 500));
        log->push_back(modeWord(wheel->mode()));
        if (k > 1) {
            // The next press comes once the menu is up, as a user's would.
            when(
                [wheel] {
                    return menuExposed(*wheel);
                },
                [press, k] {
                    (*press)(k - 1);
                },
                10);
            return;
        }
        std::string line;
        for (const auto& word : *log)
            line += (line.empty() ? "" : " → ") + word;
        say(line);
        wheel->hide();
        Cli::exitNow(Cli::ExitCode::done);
    };
    (*press)(5);
    runLoop();
}

void wheelCycleTest()
{
    Cli::makeApplication(false);
    auto* wheel = new WheelController();
    const WheelEntry::Paths selection{"/tmp/exemplo.mov"};
    const QPointF point(600, 500);
    auto visible = [wheel] {
        return std::string(wheel->host().panelVisible() ? "true" : "false");
    };
    auto exposed = [wheel] {
        return menuExposed(*wheel);
    };
    wheel->trigger(WheelMode::convert, selection, point);
    when(
        exposed,
        [=] {
            say("aberta: " + visible());
            wheel->trigger(WheelMode::tools, selection, point);
            say("trocou p/ ferramentas, modo=" + modeWord(wheel->mode()));
            wheel->trigger(WheelMode::tools, selection, point);
            say("logo após fechar (animando): " + visible());
            when(
                [wheel] {
                    return !wheel->host().panelVisible();
                },
                [=] {
                    say("depois da animação: " + visible());
                    wheel->trigger(WheelMode::actions, selection, point);
                    when(
                        exposed,
                        [=] {
                            say("reaberta: " + visible());
                            Cli::exitNow(Cli::ExitCode::done);
                        },
                        10);
                },
                5);
        },
        10);
    runLoop();
}

namespace {

// How many ffmpeg processes work on `file`, from the process table; "?" when it cannot be read.
std::string encodersOf(const fs::path& file)
{
    // The name sits in an awk string inside a single-quoted shell word: escape what would end either.
    std::string name;
    for (char c : file.filename().string()) {
        if (c == '\'')
            name += "'\\''";
        else if (c == '"' || c == '\\')
            name += std::string("\\") + c;
        else
            name += c;
    }
    try {
        return QString::fromStdString(
            Commands::run("/bin/sh",
                {"-c", "ps -axo comm=,args= | awk '$1 ~ /ffmpeg$/ && index($0, \"" + name + "\")' | wc -l"}))
            .trimmed()
            .toStdString();
    } catch (const std::exception&) {
        return "?";
    }
}

}

void cancelTest()
{
    Cli::makeApplication(false);
    const auto files = panelAndConversions();
    const std::string out = Cli::args[2];
    after(2.0, [files, out] {
        const auto jobs = JobStore::shared().jobs();
        std::string line = "antes:";
        for (const auto& job : jobs)
            line += " " + job.sourceName + "=" + std::to_string(int(job.progress.value_or(0) * 100)) + "%";
        say(line);
        // With no job there is nothing to cancel; the last steps still report.
        if (!jobs.empty()) {
            JobStore::shared().cancel(jobs.front().id);
            JobStore::shared().cancel(jobs.back().id);
        }
        auto counted = std::make_shared<bool>(false);
        after(0.5, [files, out, counted] {
            snapshot(out);
            say("ffmpeg do 1º arquivo ainda rodando: "
                + (files.empty() ? std::string("0") : encodersOf(files.front())));
            *counted = true;
        });
        // Both are due 0.5 s from now: the count is said first.
        every(0.5, [files, counted] {
            if (!*counted || anyRunning())
                return false;
            const auto& jobs = JobStore::shared().jobs();
            for (size_t i = 0; i < std::min(jobs.size(), files.size()); ++i) {
                const Job& job = jobs[i];
                auto partial = files[i];
                partial.replace_extension("webm");
                using Kind = Job::State::Kind;
                switch (job.state.kind) {
                case Kind::done:
                    say("✓ " + job.sourceName + ": concluído → " + job.state.url->filename().string());
                    break;
                case Kind::failed: say("✗ " + job.sourceName + ": " + job.state.message); break;
                case Kind::cancelled:
                    say("✕ " + job.sourceName + ": cancelado · arquivo parcial existe? "
                        + (fs::exists(partial) ? "SIM (erro)" : "não"));
                    break;
                case Kind::info:
                case Kind::running: say("? " + job.sourceName); break;
                }
            }
            Cli::exitNow(Cli::ExitCode::done);
        });
    });
    runLoop();
}

}
