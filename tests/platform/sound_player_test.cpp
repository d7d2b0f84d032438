#include "platform/sound_player.h"
#include "support/test_support.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

bool mapped(const std::string& library)
{
    return TestSupport::readFile("/proc/self/maps").find(library) != std::string::npos;
}

}

// The media libraries come with the first sound, through the sound module, and not before.
TEST(SoundPlayerTest, LoadsTheMediaModuleWithTheFirstSound)
{
    EXPECT_FALSE(mapped("libQt6Multimedia"));
    SoundPlayer player;
    EXPECT_FALSE(mapped("libQt6Multimedia"));
    player.restart(Chime::Kind::flip, 0.3);
    EXPECT_TRUE(mapped("brivlon-sound.so"));
    EXPECT_TRUE(mapped("libQt6Multimedia"));
    player.restart(Chime::Kind::flip, 0.3);
    QCoreApplication::processEvents();
}
