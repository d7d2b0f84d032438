#include "menus/haptics.h"

#include "core/settings.h"

#include <QTimer>

namespace Haptics {

namespace {

void perform(Pattern pattern)
{
    if (auto performer = Performer::shared())
        performer->perform(pattern);
}

void later(double seconds, Pattern pattern)
{
    QTimer::singleShot(int(seconds * 1000), [pattern] { perform(pattern); });
}

}

const std::vector<Level>& levels()
{
    static const std::vector<Level> all = {Level::off, Level::soft, Level::strong};
    return all;
}

std::string rawValue(Level level)
{
    switch (level) {
    case Level::off: return "off";
    case Level::soft: return "soft";
    case Level::strong: return "strong";
    }
    return {};
}

std::optional<Level> levelFromRaw(const std::string& raw)
{
    for (auto level : levels())
        if (rawValue(level) == raw)
            return level;
    return std::nullopt;
}

std::string name(Level level)
{
    switch (level) {
    case Level::off: return "Desligada";
    case Level::soft: return "Suave";
    case Level::strong: return "Forte";
    }
    return {};
}

Level level()
{
    const auto stored = Defaults::string("haptics");
    return stored ? levelFromRaw(*stored).value_or(Level::strong) : Level::strong;
}

void open()
{
    if (level() == Level::off)
        return;
    perform(level() == Level::soft ? Pattern::alignment : Pattern::levelChange);
}

void tick()
{
    switch (level()) {
    case Level::off: return;
    case Level::soft: perform(Pattern::alignment); return;
    case Level::strong:
        perform(Pattern::levelChange);
        later(0.035, Pattern::generic);
        return;
    }
}

void pick()
{
    if (level() == Level::off)
        return;
    perform(Pattern::levelChange);
    // The level is asked again: a change in between counts at once.
    if (level() == Level::strong)
        later(0.06, Pattern::levelChange);
}

}
