#include "menus/haptics.h"

#include "core/base/raw_values.h"
#include "core/base/settings.h"

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
    QTimer::singleShot(int(seconds * 1000), [pattern] {
        perform(pattern);
    });
}

}

namespace {
struct LevelRow {
    Level value;
    std::string_view raw;
    std::string_view name;
};
constexpr EnumTable<LevelRow, 3> table{{{
    {Level::off, "off", "Desligada"},
    {Level::soft, "soft", "Suave"},
    {Level::strong, "strong", "Forte"},
}}};
}

const std::vector<Level>& levels()
{
    static const std::vector<Level> all = table.values();
    return all;
}

std::string rawValue(Level level) { return table.raw(level); }
std::optional<Level> levelFromRaw(const std::string& raw) { return table.parse(raw); }
std::string name(Level level) { return std::string(table[level].name); }

Level level() { return Defaults::choice(SettingKey::haptics, levelFromRaw); }

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
