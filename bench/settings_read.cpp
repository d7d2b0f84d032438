// How long one settings read takes: the drag monitor and the menus read at every trigger.
// Run through bench/settings.sh, which gives it a private configuration folder.
#include "core/base/settings.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

namespace {

template <typename Read> double microsecondsPerRead(Read read, int rounds)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        read();
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / rounds;
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // A store the size of a used one: every key the program writes.
    for (auto key : SettingKeys::all())
        if (SettingKeys::type(key) != SettingType::boolean)
            Defaults::set(key, "shift");
    for (const char* group : {"jpg", "video"})
        Defaults::set(SettingKey::quality, group, "shift");
    Defaults::set(SettingKey::separateKeys, true);
    Defaults::set(SettingKey::doneSound, false);

    const int rounds = 20000;
    volatile bool sink = false;
    const double unchanged = microsecondsPerRead(
        [&] {
            sink = Prefs::separateKeys();
        },
        rounds);
    // A write between reads: the next read must parse the file again.
    bool flip = false;
    const double afterWrite = microsecondsPerRead(
        [&] {
            Defaults::set(SettingKey::doneSound, flip = !flip);
            sink = Prefs::doneSound();
        },
        rounds / 20);
    const double write = microsecondsPerRead(
        [&] {
            Defaults::set(SettingKey::doneSound, flip = !flip);
        },
        rounds / 20);
    std::printf("read, file unchanged: %8.2f µs\n", unchanged);
    std::printf("write then read:      %8.2f µs (write alone %.2f µs)\n", afterWrite, write);
    return sink ? 0 : 0;
}
