#pragma once

// Shared fakes for the job tests: a sound output that records, a settable media clock, a look at
// the process table and an event pump with a deadline.

#include "core/base/settings.h"
#include "core/jobs/job_store.h"
#include "support/fakes.h"
#include "support/test_support.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace JobFakes {

using Fakes::Played;

// Installs a recording output and a clock the test sets; both are removed again at the end. The
// sounds start as a new user has them: on, the standard finale, no pick waiting for its burst.
class SoundFixture {
public:
    SoundFixture()
    {
        Chime::resetDebounce();
        for (auto key : {SettingKey::doneSound, SettingKey::finale})
            Defaults::remove(key);
        MagicBurst::reset();
    }
    std::vector<Played>& played() { return output->played; }

    std::shared_ptr<Fakes::Sounds> output = std::make_shared<Fakes::Sounds>();
    std::shared_ptr<Fakes::Clock> clock = std::make_shared<Fakes::Clock>();
    double& now = clock->seconds;

private:
    TestSupport::Installed<Chime::Output> installedOutput{output};
    TestSupport::Installed<MediaClock::Source> installedClock{clock};
};

// Processes named `name` that are children of this process (unreaped ones included) or, with
// `mentioning`, live ones whose command line holds that text (tools outlive their parents).
inline int processes(const std::string& name, const std::string& mentioning = {})
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto stat = TestSupport::readFile(entry.path() / "stat");
        const auto open = stat.find('('), close = stat.rfind(')');
        if (close == std::string::npos || close + 2 > stat.size() || stat.substr(open + 1, close - open - 1) != name)
            continue;
        std::string state, parent;
        std::istringstream(stat.substr(close + 2)) >> state >> parent;
        count += mentioning.empty()
            ? parent == std::to_string(::getpid())
            : state != "Z" && TestSupport::readFile(entry.path() / "cmdline").find(mentioning) != std::string::npos;
    }
    return count;
}

// Runs the main thread's events until `done` holds or `seconds` pass; answers `done()`.
inline bool pumpUntil(double seconds, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Polling, not waiting: the work runs on other threads.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline bool pumpUntil(const std::function<bool()>& done) { return pumpUntil(20, done); }

// One mark per job of `store`: '-' waiting, '+' started, 'd' done, 'f' failed, 'c' cancelled
// after it started, 'x' before.
inline std::string marks(const JobStore& store)
{
    std::string marks;
    for (const auto& each : store.jobs())
        marks += each.isRunning()                        ? (each.started ? '+' : '-')
            : each.state.is(Job::State::Kind::cancelled) ? (each.started ? 'c' : 'x')
            : each.state.is(Job::State::Kind::done)      ? 'd'
                                                         : 'f';
    return marks;
}

}
