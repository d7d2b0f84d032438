#include "core/state/magic_burst.h"

#include "core/state/chime.h"
#include "core/state/media_clock.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace MagicBurst {

namespace {
std::optional<QPointF> point;
double pickedAt = 0;
bool isClaimed = false;
}

void notePick(QPointF at)
{
    point = at;
    pickedAt = MediaClock::now();
    isClaimed = false;
}

void noteQualityPick()
{
    if (point)
        pickedAt = MediaClock::now();
}

void noteJobAdded()
{
    if (!point)
        return;
    if (MediaClock::now() - pickedAt < 3.0)
        isClaimed = true;
    else if (!isClaimed)
        point.reset();
}

void reset()
{
    point.reset();
    isClaimed = false;
}

bool celebrate()
{
    auto at = point;
    const bool wasClaimed = isClaimed;
    reset();
    if (!at || !wasClaimed)
        return false;
    const double delay = std::max(0.0, pickedAt + 0.75 - MediaClock::now());
    // The completion sound belongs to the burst, also where no panel can show (no display).
    QTimer::singleShot(int(std::ceil(delay * 1000)), [presenter = Presenter::shared(), at = *at] {
        if (presenter)
            presenter->show(at);
        Chime::play(Chime::Kind::success, false);
    });
    return true;
}

std::optional<QPointF> dropPoint() { return point; }

bool claimed() { return isClaimed; }

}
