#include "core/chime.h"
#include "core/settings.h"
#include "job_fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

using Chime::Kind;
using JobFakes::Played;

namespace {

TEST(ChimeTest, SoundsAreDeterministicDistinctAndWrappedInAConsistentWav)
{
    std::set<std::vector<double>> distinct;
    for (auto kind : {Kind::success, Kind::failure, Kind::shuffle, Kind::flip, Kind::wand, Kind::harp}) {
        const auto samples = Chime::samples(kind);
        EXPECT_EQ(samples, Chime::samples(kind));
        EXPECT_DOUBLE_EQ(std::abs(*std::max_element(samples.begin(), samples.end(), [](double a, double b) {
                             return std::abs(a) < std::abs(b);
                         })), 0.7);
        EXPECT_EQ(samples.back(), 0.0);
        distinct.insert(samples);
        // The sizes the header declares match what follows, and the data are these samples.
        const auto wav = Chime::wavData(kind);
        const auto u32 = [&](size_t at) { return size_t(wav[at] | wav[at + 1] << 8 | wav[at + 2] << 16 | wav[at + 3] << 24); };
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
        for (const char* key : {"doneSound", "cardSound", "sound.finale"})
            Defaults::remove(key);
    }
    JobFakes::SoundFixture sound;
};

TEST_F(ChimePlayTest, FailureSoundsWithinOneAndAHalfSecondsAreDropped)
{
    // {time, forced, heard}: the first is heard even at time 0; forcing restarts the window.
    const std::tuple<double, bool, bool> steps[] = {{0, false, true},    {1.0, false, false}, {2.0, false, true},
                                                    {3.5, false, false}, {3.6, true, true},   {5.0, false, false},
                                                    {5.2, false, true}};
    for (const auto& [at, force, heard] : steps) {
        sound.played().clear();
        sound.now = at;
        Chime::play(Kind::failure, force);
        EXPECT_EQ(sound.played().size(), heard ? 1u : 0u) << at;
    }
}

TEST_F(ChimePlayTest, CompletionFollowsTheFinaleAndSwitchesSilenceTheirSounds)
{
    for (const char* stored : {"harp", "classic", "Harp"}) {
        Defaults::set("sound.finale", stored);
        Chime::play(Kind::success, false);
    }
    Chime::play(Kind::flip, false);
    EXPECT_EQ(sound.played(), (std::vector<Played>{{Kind::harp, 0.42}, {Kind::success, 0.5}, {Kind::wand, 0.42},
                                                   {Kind::success, 0.42}}));

    sound.played().clear();
    Defaults::set("doneSound", false);
    Chime::play(Kind::success, false);
    Chime::play(Kind::failure, true);
    Chime::card(Kind::shuffle);
    Chime::card(Kind::success);
    Defaults::set("cardSound", false);
    Chime::card(Kind::shuffle);
    EXPECT_EQ(sound.played(),
              (std::vector<Played>{{Kind::failure, 0.5}, {Kind::shuffle, 0.16}, {Kind::flip, 0.3}}));
}

}
