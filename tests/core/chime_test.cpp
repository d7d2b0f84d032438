#include "core/state/chime.h"
#include "core/base/settings.h"
#include "job_fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using Chime::Kind;
using JobFakes::Played;

namespace {

TEST(ChimeTest, SoundsAreDeterministicDistinctAndWrappedInAConsistentWav)
{
    std::set<std::vector<double>> distinct;
    for (auto kind : {Kind::success, Kind::failure, Kind::shuffle, Kind::flip, Kind::wand, Kind::harp}) {
        const auto samples = Chime::samples(kind);
        EXPECT_EQ(samples, Chime::samples(kind));
        const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
        EXPECT_DOUBLE_EQ(std::max(-*low, *high), 0.7);
        EXPECT_EQ(samples.back(), 0.0);
        distinct.insert(samples);
        // The sizes the header declares match what follows, and the data are these samples.
        const auto wav = Chime::wavData(kind);
        const auto u32 = [&](size_t at) {
            return size_t(wav[at] | wav[at + 1] << 8 | wav[at + 2] << 16 | wav[at + 3] << 24);
        };
        ASSERT_EQ(wav.size(), 44 + 2 * samples.size());
        EXPECT_EQ(u32(4), wav.size() - 8);
        EXPECT_EQ(u32(40), 2 * samples.size());
        const size_t at = samples.size() / 2;
        EXPECT_NEAR(std::int16_t(wav[44 + 2 * at] | wav[45 + 2 * at] << 8), samples[at] * 32000, 1);
    }
    EXPECT_EQ(distinct.size(), 6u);
}

class ChimePlayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto key : {SettingKey::doneSound, SettingKey::cardSound, SettingKey::finale})
            Defaults::remove(key);
    }
    JobFakes::SoundFixture sound;
};

TEST_F(ChimePlayTest, FailureSoundsWithinOneAndAHalfSecondsAreDropped)
{
    // The first is heard even at time 0; exactly 1.5 s after the last one heard is still too soon;
    // a forced one (at 3.6 s) is always heard and starts the window again.
    std::string heard;
    for (double at : {0.0, 1.0, 2.0, 3.5, 3.6, 5.0, 5.2}) {
        sound.now = at;
        Chime::play(Kind::failure, at == 3.6);
        heard += std::to_string(std::exchange(sound.played(), {}).size());
    }
    EXPECT_EQ(heard, "1010101");
}

TEST_F(ChimePlayTest, CompletionFollowsTheFinaleAndSwitchesSilenceTheirSounds)
{
    for (const char* stored : {"harp", "classic", "Harp"}) {
        Defaults::set(SettingKey::finale, stored);
        Chime::play(Kind::success, false);
    }
    Chime::play(Kind::flip, false);
    EXPECT_EQ(sound.played(),
        (std::vector<Played>{{Kind::harp, 0.42}, {Kind::success, 0.5}, {Kind::wand, 0.42}, {Kind::success, 0.42}}));

    sound.played().clear();
    Defaults::set(SettingKey::doneSound, false);
    Chime::play(Kind::success, false);
    Chime::play(Kind::failure, true);
    Chime::card(Kind::shuffle);
    Chime::card(Kind::success);
    Defaults::set(SettingKey::cardSound, false);
    Chime::card(Kind::shuffle);
    EXPECT_EQ(sound.played(), (std::vector<Played>{{Kind::failure, 0.5}, {Kind::shuffle, 0.16}, {Kind::flip, 0.3}}));
}

}
