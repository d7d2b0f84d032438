#pragma once

// Shared fakes for the job tests: a sound output that records, a settable media clock, a look at
// the process table and an event pump with a deadline.

#include "core/chime.h"
#include "core/media_clock.h"

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

struct Played {
    Chime::Kind kind;
    double volume;
    bool operator==(const Played&) const = default;
};

class RecordingOutput : public Chime::Output {
public:
    void restart(Chime::Kind kind, double volume) override { played.push_back({kind, volume}); }
    std::vector<Played> played;
};

// Installs a recording output and a clock the test sets; both are removed again at the end.
class SoundFixture {
public:
    SoundFixture() : output(std::make_shared<RecordingOutput>())
    {
        Chime::setOutput(output);
        Chime::resetDebounce();
        MediaClock::setSource([this] { return now; });
    }
    ~SoundFixture()
    {
        Chime::setOutput(nullptr);
        MediaClock::setSource(nullptr);
    }
    std::vector<Played>& played() { return output->played; }

    std::shared_ptr<RecordingOutput> output;
    double now = 1000.0;
};

// Live processes named `name` that are children of this process or, when `mentioning` is
// given, any whose command line holds that text (tools outlive the parent that started them).
inline int processes(const std::string& name, const std::string& mentioning = {})
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto stat = TestSupport::readFile(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 > stat.size())
            continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state, parent;
        rest >> state >> parent;
        const bool related = mentioning.empty() ? parent == std::to_string(::getpid())
                                                : TestSupport::readFile(entry.path() / "cmdline").find(mentioning) != std::string::npos;
        count += related && (mentioning.empty() || state != "Z") && stat.substr(stat.find('(') + 1, close - stat.find('(') - 1) == name;
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
