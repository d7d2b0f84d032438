#include "core/state/chime.h"

#include "core/state/media_clock.h"
#include "core/base/raw_values.h"
#include "core/base/settings.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace Chime {

namespace {

struct KindRow {
    Kind value;
    std::string_view raw;
};
constexpr EnumTable<KindRow, 6> kinds{{{
    {Kind::success, "success"},
    {Kind::failure, "failure"},
    {Kind::shuffle, "shuffle"},
    {Kind::flip, "flip"},
    {Kind::wand, "wand"},
    {Kind::harp, "harp"},
}}};

}

std::string rawValue(Kind kind) { return kinds.raw(kind); }
std::optional<Kind> kindFromRaw(const std::string& raw) { return kinds.parse(raw); }

namespace {

struct FinaleRow {
    Finale value;
    std::string_view raw;
    std::string_view name;
    Kind kind;
};
constexpr EnumTable<FinaleRow, 3> finales{{{
    {Finale::wand, "wand", "Varinha", Kind::wand},
    {Finale::harp, "harp", "Harpa", Kind::harp},
    {Finale::classic, "classic", "Clássico", Kind::success},
}}};

}

namespace Finales {

const std::vector<Finale>& all()
{
    static const auto list = finales.values();
    return list;
}

std::string rawValue(Finale finale) { return finales.raw(finale); }
std::optional<Finale> fromRaw(const std::string& raw) { return finales.parse(raw); }
std::string name(Finale finale) { return std::string(finales[finale].name); }
Kind kind(Finale finale) { return finales[finale].kind; }

Finale current() { return Defaults::choice(SettingKey::finale, fromRaw); }

}

int length(Kind kind)
{
    switch (kind) {
    case Kind::success: return 66150;
    case Kind::failure: return 44100;
    case Kind::shuffle: return 9702;
    case Kind::flip: return 26460;
    case Kind::wand: return 70560;
    case Kind::harp: return 74970;
    }
    return 0;
}

namespace {

constexpr double rate = sampleRate;

// The shared white-noise source; its state runs on from one noise layer into the next.
class Noise {
public:
    double next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return 2.0 * (double(state_ >> 8) * 0x1p-24) - 1.0;
    }

private:
    std::uint32_t state_ = 2085229011u;
};

struct Note {
    double start;  // seconds
    double frequency;
    double decay;  // per second
    double gain;
    double brightness;
    double metallic;
};

void addBell(std::vector<double>& buffer, int startSample, const Note& note)
{
    const int total = int(buffer.size());
    if (startSample >= total)
        return;
    const double omega = 2.0 * std::numbers::pi * note.frequency;
    const double k = note.decay;
    const int n = int(std::min(double(total - startSample) / rate, 6.0 / k) * rate);
    for (int j = 0; j < n && startSample + j < total; ++j) {
        const double t = double(j) / rate;
        const double tone = 0.7 * std::sin(omega * t) + 0.3 * std::sin(1.003 * omega * t)
            + 0.22 * note.brightness * std::exp(-2.2 * k * t) * std::sin(2.0 * omega * t)
            + note.metallic * std::exp(-3.0 * k * t) * std::sin(2.76 * omega * t)
            + 0.07 * note.brightness * std::exp(-4.0 * k * t) * std::sin(3.0 * omega * t);
        buffer[size_t(startSample + j)] += note.gain * std::exp(-k * t) * std::min(t / 0.008, 1.0) * tone;
    }
}

void addNotes(std::vector<double>& buffer, const std::vector<Note>& notes)
{
    for (const auto& note : notes)
        addBell(buffer, int(note.start * rate), note);
}

// A rising run: note i starts i × spacing seconds in.
void addRun(std::vector<double>& buffer, const std::vector<double>& frequencies, double spacing,
    const std::function<Note(size_t)>& shape)
{
    for (size_t i = 0; i < frequencies.size(); ++i) {
        Note note = shape(i);
        note.frequency = frequencies[i];
        addBell(buffer, int(double(i) * spacing * rate), note);
    }
}

void addClick(std::vector<double>& buffer, Noise& noise, double start, double duration, double gain)
{
    const int first = int(start * rate);
    const int count = int(duration * rate);
    double h = 0, l = 0, previous = 0;
    for (int j = 0; j < count && first + j < int(buffer.size()); ++j) {
        const double t = double(j) / rate;
        const double w = noise.next();
        h = 0.92 * (h + w - previous);
        previous = w;
        l = l + (h - l) * 0.45;
        buffer[size_t(first + j)] += gain * std::exp(-t / (0.28 * duration)) * std::min(t / 0.0015, 1.0) * l;
    }
}

void addSwish(std::vector<double>& buffer, Noise& noise)
{
    constexpr int span = 7938;
    double l1 = 0, l2 = 0;
    for (int j = 0; j < span && j < int(buffer.size()); ++j) {
        const double p = std::sin(double(j) / span * std::numbers::pi);
        const double c = 0.08 + 0.1 * p;
        const double w = noise.next();
        l1 = l1 + c * (w - l1);
        const double next = l2 + c * (l1 - l2);
        buffer[size_t(j)] += 6.0 * p * p * (next - l2);
        l2 = next;
    }
}

void applyTail(std::vector<double>& buffer)
{
    const size_t total = buffer.size();
    for (size_t i = 0; i < 2205 && i < total; ++i)
        buffer[total - 1 - i] *= double(i) / 2205.0;
    double peak = 0;
    for (double x : buffer)
        peak = std::max(peak, std::abs(x));
    if (peak > 0)
        for (double& x : buffer)
            x = x / peak * 0.7;
}

void putLE(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t((value >> (8 * i)) & 0xFF));
}

void putText(std::vector<std::uint8_t>& out, const char* text)
{
    for (const char* c = text; *c; ++c)
        out.push_back(std::uint8_t(*c));
}

}

std::vector<double> samples(Kind kind)
{
    std::vector<double> buffer(size_t(length(kind)), 0.0);
    Noise noise;
    switch (kind) {
    case Kind::success:
        addNotes(buffer,
            {{0, 130.81, 3.2, 0.22, 0.4, 0}, {0, 523.25, 5, 0.3, 1, 0}, {0.11, 783.99, 3.6, 0.34, 1, 0},
                {0.11, 1046.5, 4.5, 0.08, 0.3, 0}, {0.16, 3135.96, 9, 0.025, 0, 0}});
        break;
    case Kind::failure:
        addNotes(buffer, {{0, 293.66, 7, 0.32, 0.5, 0}, {0.13, 220, 5, 0.34, 0.5, 0}, {0.13, 110, 5, 0.12, 0.2, 0}});
        break;
    case Kind::shuffle: addSwish(buffer, noise); break;
    case Kind::flip:
        addClick(buffer, noise, 0, 0.06, 1);
        addClick(buffer, noise, 0.05, 0.04, 0.5);
        addNotes(buffer, {{0.09, 1567.98, 9, 0.1, 0, 0}, {0.13, 2349.32, 11, 0.07, 0, 0}});
        break;
    case Kind::wand:
        addRun(buffer, {1318.51, 1567.98, 1760, 2093, 2349.32}, 0.028, [](size_t) {
            return Note{0, 0, 14, 0.05, 0, 0.15};
        });
        addNotes(buffer,
            {{0.17, 783.99, 9, 0.26, 0.3, 0.12}, {0.33, 1046.5, 3.2, 0.3, 0.3, 0.14},
                {0.33, 1318.51, 3.6, 0.12, 0.2, 0.08}, {0.33, 523.25, 3, 0.14, 0.3, 0},
                {0.4, 3135.96, 7, 0.025, 0, 0}});
        break;
    case Kind::harp:
        addRun(buffer, {523.25, 659.25, 783.99, 1046.5, 1318.51, 1567.98, 2093}, 0.045, [](size_t i) {
            return i < 6 ? Note{0, 0, 5, 0.13, 0.5, 0} : Note{0, 0, 2.8, 0.2, 0.5, 0};
        });
        addNotes(buffer, {{0.27, 261.63, 2.6, 0.12, 0.3, 0}});
        break;
    }
    applyTail(buffer);
    return buffer;
}

std::vector<std::uint8_t> wavData(Kind kind)
{
    const auto pcm = samples(kind);
    const auto dataBytes = std::uint32_t(pcm.size() * 2);
    std::vector<std::uint8_t> out;
    out.reserve(44 + dataBytes);
    putText(out, "RIFF");
    putLE(out, dataBytes + 36, 4);
    putText(out, "WAVEfmt ");
    putLE(out, 16, 4);
    putLE(out, 1, 2);
    putLE(out, 1, 2);
    putLE(out, sampleRate, 4);
    putLE(out, sampleRate * 2, 4);
    putLE(out, 2, 2);
    putLE(out, 16, 2);
    putText(out, "data");
    putLE(out, dataBytes, 4);
    for (double x : pcm) {
        auto value = std::int16_t(std::clamp(x, -1.0, 1.0) * 32000.0);
        putLE(out, std::uint16_t(value), 2);
    }
    return out;
}

namespace {

// When the last failure sound was heard; nothing until the first one, so it is always heard.
std::optional<double> lastFailure;

void restart(Kind kind, double volume)
{
    if (auto output = Output::shared())
        output->restart(kind, volume);
}

}

void resetDebounce() { lastFailure.reset(); }

void play(Kind kind, bool force)
{
    if (!force && !Prefs::doneSound())
        return;
    if (kind == Kind::success)
        kind = Finales::kind(Finales::current());
    if (kind == Kind::failure) {
        const double now = MediaClock::now();
        if (!force && lastFailure && now - *lastFailure <= 1.5)
            return;
        lastFailure = now;
    }
    const bool plain = kind == Kind::success || kind == Kind::failure;
    Kind player = Kind::success;
    switch (kind) {
    case Kind::success:
    case Kind::wand:
    case Kind::harp:
    case Kind::failure: player = kind; break;
    case Kind::shuffle:
    case Kind::flip: break;
    }
    restart(player, plain ? 0.5 : 0.42);
}

void card(Kind kind)
{
    if (!Prefs::cardSound())
        return;
    if (kind == Kind::shuffle)
        restart(Kind::shuffle, 0.16);
    else
        restart(Kind::flip, 0.3);
}

}
