#include "headless_tool.h"

#include "cli.h"
#include "core/base/conversion_error.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/engines/tool_engines.h"

#include <QApplication>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

namespace HeadlessTool {

namespace {

void printLine(FILE* stream, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::vector<std::string>::const_iterator separator() { return std::find(Cli::args.begin(), Cli::args.end(), "--"); }

const auto runToken = std::make_shared<Task::CancelToken>();
std::atomic<int> interrupted{0};

// A termination signal cancels the run and stops ffmpeg; the work then unwinds, so its unnamed
// output vanishes, and the process ends with 128 + the signal. Blocked before any thread starts,
// so that only this thread ever takes them.
void takeTerminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, signal);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int signal = -1;
        while ((signal = ::sigwaitinfo(&set, nullptr)) < 0) { }
        interrupted = signal;
        Process::Live::refuseNew();
        runToken->cancel();
        Process::Live::signalAll(SIGTERM);
        // Image and PDF work does not watch for cancellation; their outputs have no name yet.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        Process::Live::signalAll(SIGKILL);
        Cli::exitNow(128 + signal);
    }).detach();
}

[[noreturn]] void finish(int code) { Cli::finishCLI(interrupted ? 128 + interrupted : code); }

void work(Tool tool, const std::vector<fs::path>& files, const ToolParams& params)
{
    auto context = Task::newJob();
    context.cancel = runToken;
    Task::Binder binder(context);
    try {
        if (Tools::isBatch(tool)) {
            printLine(stdout, ToolEngines::run(tool, files, params, {}).string());
            finish(0);
        }
        for (const auto& file : files) {
            Task::checkCancelled();
            printLine(stdout, ToolEngines::run(tool, {file}, params, {}).string());
        }
    } catch (const std::exception& error) {
        if (!interrupted)
            printLine(stderr, "erro: " + describeError(error));
        finish(1);
    }
    finish(0);
}

}

bool accepts() { return Tools::fromRaw(Cli::args[2]) && separator() != Cli::args.end(); }

void run()
{
    const auto& args = Cli::args;
    const auto tool = *Tools::fromRaw(args[2]);
    const auto dashes = separator();
    const auto params = withPairs({}, {args.begin() + 3, std::max(args.begin() + 3, dashes)});
    std::vector<fs::path> files;
    for (auto it = dashes + 1; it < args.end(); ++it)
        files.push_back(fs::absolute(*it));

    takeTerminationSignals();
    Cli::makeApplication(true);
    Task::detach({}, [tool, files, params] {
        work(tool, files, params);
    });
    QApplication::exec();
    Cli::exitNow(0);
}

}
