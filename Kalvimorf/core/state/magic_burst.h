#pragma once

#include "core/base/service.h"

#include <QPointF>

#include <optional>

// Where and when a card was last picked, so that the job the pick started can end in a burst at
// that point. Main thread only. The drawing of the burst is installed by the desktop side.
namespace MagicBurst {

// A card was picked at `point` (global screen coordinates): recorded, not yet claimed.
void notePick(QPointF point);
// A quality card was picked: the existing point gets a fresh time.
void noteQualityPick();
// Called for every new job: a pick less than 3 s old is claimed; an older unclaimed one is dropped.
void noteJobAdded();
// Forgets the point and its claim (a job failed or was cancelled).
void reset();
// Consumes the pick. When it was claimed, schedules the burst no earlier than 0.75 s after the
// pick, with the completion sound, and answers true; otherwise false (the caller plays the
// completion sound itself).
bool celebrate();

// Shows the firework centred on a screen point; installed by the desktop side.
class Presenter : public Service<Presenter> {
public:
    virtual ~Presenter() = default;
    virtual void show(QPointF at) = 0;
};

// The recorded state, for tests and the burst itself.
std::optional<QPointF> dropPoint();
bool claimed();

}
