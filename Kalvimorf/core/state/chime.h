#pragma once

#include "core/base/service.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The program's own sounds, synthesised from fixed recipes: the same kind always gives the same
// samples. Played through an output that the desktop side installs; without one they are silent.
namespace Chime {

enum class Kind { success, failure, shuffle, flip, wand, harp };

// The kind's name: the word of --export-chime and the name of its cached sound file.
std::string rawValue(Kind kind);
std::optional<Kind> kindFromRaw(const std::string& raw);

// The user's choice of completion sound, stored under "sound.finale".
enum class Finale { wand, harp, classic };

namespace Finales {
const std::vector<Finale>& all();
std::string rawValue(Finale finale);
std::optional<Finale> fromRaw(const std::string& raw);
// "Varinha", "Harpa", "Clássico".
std::string name(Finale finale);
Kind kind(Finale finale);
// The stored choice; absent or unknown text gives the wand.
Finale current();
}

constexpr int sampleRate = 44100;

// Number of samples of a kind's sound.
int length(Kind kind);
// Mono samples in -0.7…0.7 at 44 100 Hz.
std::vector<double> samples(Kind kind);
// The samples as a complete 16-bit PCM WAV file.
std::vector<std::uint8_t> wavData(Kind kind);

// Where sounds are heard. `restart` stops the player kept for `kind` (one per kind, made on
// first use), sets its volume and plays it from the start. Called on the main thread.
// Installed with Output::set (nullptr: silence).
class Output : public Service<Output> {
public:
    virtual ~Output() = default;
    virtual void restart(Kind kind, double volume) = 0;
};

// A completion or failure sound, honouring the "doneSound" switch unless forced. Repeated
// failure sounds within 1.5 s are dropped unless forced.
void play(Kind kind, bool force);
// A card sound: shuffle, or the flip for any other kind; honours "cardSound".
void card(Kind kind);
// Forgets the last failure sound (tests).
void resetDebounce();

}
