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
#include <QTimer>

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

void after(double seconds, std::function<void()> step) { QTimer::singleShot(int(seconds * 1000), qApp, step); }

// Every `seconds` until `step` answers true.
void every(double seconds, std::function<bool()> step)
{
    auto* timer = new QTimer(qApp);
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
    Cli::exitNow(0);
}

HudPanel* visiblePanel()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* panel = dynamic_cast<HudPanel*>(widget); panel && panel->isVisible())
            return panel;
    return nullptr;
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
            Cli::exitNow(0);
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
            after(0.3, [press, k] {
                (*press)(k - 1);
            });
            return;
        }
        std::string line;
        for (const auto& word : *log)
            line += (line.empty() ? "" : " → ") + word;
        say(line);
        wheel->hide();
        Cli::exitNow(0);
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
    wheel->trigger(WheelMode::convert, selection, point);
    after(0.5, [=] {
        say("aberta: " + visible());
        wheel->trigger(WheelMode::tools, selection, point);
        say("trocou p/ ferramentas, modo=" + modeWord(wheel->mode()));
        after(0.5, [=] {
            wheel->trigger(WheelMode::tools, selection, point);
            say("logo após fechar (animando): " + visible());
            after(0.4, [=] {
                say("depois da animação: " + visible());
                wheel->trigger(WheelMode::actions, selection, point);
                after(0.3, [=] {
                    say("reaberta: " + visible());
                    Cli::exitNow(0);
                });
            });
        });
    });
    runLoop();
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
        // With no job there is nothing to cancel; the last step still reports.
        if (!jobs.empty()) {
            JobStore::shared().cancel(jobs.front().id);
            JobStore::shared().cancel(jobs.back().id);
        }
        after(0.5, [files, out] {
            snapshot(out);
            std::string count = "?";
            if (!files.empty()) {
                // The name sits in an awk string inside a single-quoted shell word: escape what
                // would end either.
                std::string name;
                for (char c : files.front().filename().string()) {
                    if (c == '\'')
                        name += "'\\''";
                    else if (c == '"' || c == '\\')
                        name += std::string("\\") + c;
                    else
                        name += c;
                }
                try {
                    count = QString::fromStdString(
                        Commands::run("/bin/sh",
                            {"-c",
                                "ps -axo comm=,args= | awk '$1 ~ /ffmpeg$/ && index($0, \"" + name + "\")' | wc -l"}))
                                .trimmed()
                                .toStdString();
                } catch (const std::exception&) {
                }
            }
            say("ffmpeg do 1º arquivo ainda rodando: " + count);
            // The outcome waits for the count, so the lines keep their order.
            every(0.5, [files] {
                if (anyRunning())
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
                Cli::exitNow(0);
            });
        });
    });
    runLoop();
}

}
