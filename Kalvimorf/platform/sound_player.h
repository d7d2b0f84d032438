#pragma once

#include "core/state/chime.h"

#include <QPointer>
#include <QSoundEffect>

#include <map>

// Plays the synthesised sounds with one Qt Multimedia player per kind, each made on first use
// from the sound's WAV data. Without an audio device the players stay silent; nothing fails.
class SoundPlayer : public Chime::Output {
public:
    ~SoundPlayer() override;
    void restart(Chime::Kind kind, double volume) override;

private:
    QSoundEffect* player(Chime::Kind kind);
    // Owned by the application object, so they go before it; absent when the sound is unavailable.
    std::map<Chime::Kind, QPointer<QSoundEffect>> players_;
    std::map<Chime::Kind, bool> tried_;
};
