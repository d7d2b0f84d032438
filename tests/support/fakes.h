#pragma once

// Fakes of the services the core reaches through interfaces.

#include "core/state/alert.h"
#include "core/state/chime.h"
#include "core/state/file_viewer.h"
#include "core/state/magic_burst.h"
#include "core/state/media_clock.h"

#include <vector>

namespace Fakes {

struct Clock final : MediaClock::Source {
    double seconds = 1000.0;
    double now() override { return seconds; }
};

struct Played {
    Chime::Kind kind;
    double volume;
    bool operator==(const Played&) const = default;
};

struct Sounds final : Chime::Output {
    std::vector<Played> played;
    void restart(Chime::Kind kind, double volume) override { played.push_back({kind, volume}); }
};

struct Bursts final : MagicBurst::Presenter {
    std::vector<QPointF> shown;
    void show(QPointF at) override { shown.push_back(at); }
};

// Answers every question with `answer` and keeps what was asked.
struct Alerts final : Alert::Presenter {
    std::vector<Alert::Request> asked;
    int answer = 0;
    int ask(const Alert::Request& request) override
    {
        asked.push_back(request);
        return answer;
    }
};

struct Viewer final : FileViewer {
    std::vector<std::filesystem::path> revealed;
    using FileViewer::reveal;
    void reveal(const std::vector<std::filesystem::path>& items) override
    {
        revealed.insert(revealed.end(), items.begin(), items.end());
    }
};

}
