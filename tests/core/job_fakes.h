#pragma once

// Shared fakes for the job tests: a sound output that records, a settable media clock and an
// event pump with a deadline.

#include "support/fakes.h"
#include "support/test_support.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

namespace JobFakes {

using Fakes::Played;

// Installs a recording output and a clock the test sets; both are removed again at the end.
class SoundFixture {
public:
    SoundFixture() { Chime::resetDebounce(); }
    std::vector<Played>& played() { return output->played; }

    std::shared_ptr<Fakes::Sounds> output = std::make_shared<Fakes::Sounds>();
    std::shared_ptr<Fakes::Clock> clock = std::make_shared<Fakes::Clock>();
    double& now = clock->seconds;

private:
    TestSupport::Installed<Chime::Output> installedOutput{output};
    TestSupport::Installed<MediaClock::Source> installedClock{clock};
};

// Children of this process running `name`, not yet reaped.
inline int childProcesses(const std::string& name)
{
    int count = 0;
    const auto self = std::to_string(::getpid());
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto stat = TestSupport::readFile(entry.path() / "stat");
        const auto open = stat.find('(');
        const auto close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 2 > stat.size())
            continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state, parent;
        rest >> state >> parent;
        count += parent == self && stat.substr(open + 1, close - open - 1) == name ? 1 : 0;
    }
    return count;
}

// Runs the main thread's events until `done` holds or the deadline passes; answers `done()`.
inline bool pumpUntil(const std::function<bool()>& done, double seconds = 20)
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

}
