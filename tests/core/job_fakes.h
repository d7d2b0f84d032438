#pragma once

// Shared fakes for the job tests: a sound output that records, a settable media clock and an
// event pump with a deadline.

#include "core/chime.h"
#include "core/media_clock.h"

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

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
