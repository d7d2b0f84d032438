#pragma once

#include "core/state/chime.h"

#include <QObject>
#include <QPointer>

#include <map>

// Plays the synthesised sounds with one Qt Multimedia player per kind, each made on first use
// from the sound's WAV data. The players come from the sound module (platform/sound_effects.cpp),
// loaded with the first sound. Without the module or an audio device nothing sounds; nothing
// fails.
class SoundPlayer : public Chime::Output {
public:
    ~SoundPlayer() override;
    void restart(Chime::Kind kind, double volume) override;

private:
    QObject* player(Chime::Kind kind);
    // Owned by the application object, so they go before it; absent when the sound is unavailable.
    std::map<Chime::Kind, QPointer<QObject>> players_;
    std::map<Chime::Kind, bool> tried_;
};
