#include "core/chime.h"
#include "core/settings.h"
#include "job_fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using Chime::Kind;
using JobFakes::Played;

namespace {

const std::vector<Kind> allKinds = {Kind::success, Kind::failure, Kind::shuffle, Kind::flip, Kind::wand, Kind::harp};

std::uint32_t u32(const std::vector<std::uint8_t>& data, size_t at)
{
    return std::uint32_t(data[at]) | std::uint32_t(data[at + 1]) << 8 | std::uint32_t(data[at + 2]) << 16
        | std::uint32_t(data[at + 3]) << 24;
}
std::uint16_t u16(const std::vector<std::uint8_t>& data, size_t at)
{
    return std::uint16_t(data[at] | data[at + 1] << 8);
}
std::int16_t sample(const std::vector<std::uint8_t>& data, size_t index)
{
    return std::int16_t(u16(data, 44 + 2 * index));
}

TEST(ChimeTest, WavImagesOfEveryKind)
{
    const std::map<Kind, size_t> samples = {{Kind::success, 66150}, {Kind::failure, 44100}, {Kind::shuffle, 9702},
                                            {Kind::flip, 26460},    {Kind::wand, 70560},    {Kind::harp, 74970}};
    for (auto kind : allKinds) {
        SCOPED_TRACE(int(kind));
        const auto data = Chime::wavData(kind);
        const size_t n = samples.at(kind);
        ASSERT_EQ(data.size(), 44 + 2 * n);
        EXPECT_EQ(std::memcmp(data.data(), "RIFF", 4), 0);
        EXPECT_EQ(u32(data, 4), 2 * n + 36);
        EXPECT_EQ(std::memcmp(data.data() + 8, "WAVEfmt ", 8), 0);
        EXPECT_EQ(u32(data, 16), 16u);
        EXPECT_EQ(u16(data, 20), 1);
        EXPECT_EQ(u16(data, 22), 1);
        EXPECT_EQ(u32(data, 24), 44100u);
        EXPECT_EQ(u32(data, 28), 88200u);
        EXPECT_EQ(u16(data, 32), 2);
        EXPECT_EQ(u16(data, 34), 16);
        EXPECT_EQ(std::memcmp(data.data() + 36, "data", 4), 0);
        EXPECT_EQ(u32(data, 40), 2 * n);

        EXPECT_EQ(sample(data, n - 1), 0);
        int peak = 0;
        for (size_t i = 0; i < n; ++i)
            peak = std::max(peak, std::abs(int(sample(data, i))));
        EXPECT_EQ(peak, 22400);

        // Deterministic: the same kind gives the same samples every time.
        EXPECT_EQ(Chime::samples(kind), Chime::samples(kind));
        EXPECT_EQ(Chime::wavData(kind), data);
    }
    EXPECT_EQ(Chime::wavData(Kind::failure).size(), 88244u);
}

TEST(ChimeTest, SamplesStayInRangeAndShuffleEndsEarly)
{
    for (auto kind : allKinds) {
        const auto samples = Chime::samples(kind);
        double peak = 0;
        for (double x : samples)
            peak = std::max(peak, std::abs(x));
        EXPECT_DOUBLE_EQ(peak, 0.7);
        EXPECT_EQ(samples.back(), 0.0);
    }
    const auto shuffle = Chime::samples(Kind::shuffle);
    for (size_t i = 7938; i < shuffle.size(); ++i)
        ASSERT_EQ(shuffle[i], 0.0) << i;
    EXPECT_NE(shuffle[100], 0.0);
    // The sounds really differ from each other.
    EXPECT_NE(Chime::samples(Kind::wand), Chime::samples(Kind::harp));
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
    // The first failure after start is heard even at time 0.
    sound.now = 0;
    Chime::play(Kind::failure, false);
    EXPECT_EQ(sound.played().size(), 1u);

    struct Step {
        double at;
        bool force;
        bool heard;
    };
    const std::vector<Step> steps = {
        {1.0, false, false},  // 1 s after: dropped
        {2.0, false, true},   // 2 s after the last heard one
        {3.5, false, false},  // exactly 1.5 s: still dropped
        {3.6, true, true},    // forced: always, and it restarts the window
        {5.0, false, false},
        {5.2, false, true},
    };
    for (const auto& [at, force, heard] : steps) {
        sound.played().clear();
        sound.now = at;
        Chime::play(Kind::failure, force);
        EXPECT_EQ(sound.played().size(), heard ? 1u : 0u) << at;
        if (heard) {
            EXPECT_EQ(sound.played().front(), (Played{Kind::failure, 0.5}));
        }
    }
}

TEST_F(ChimePlayTest, CompletionSoundFollowsTheFinale)
{
    struct Case {
        std::optional<std::string> stored;
        Played expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, {Kind::wand, 0.42}},
        {"wand", {Kind::wand, 0.42}},
        {"harp", {Kind::harp, 0.42}},
        {"classic", {Kind::success, 0.5}},
        {"Harp", {Kind::wand, 0.42}},
    };
    for (const auto& [stored, expected] : cases) {
        if (stored)
            Defaults::set("sound.finale", QString::fromStdString(*stored));
        else
            Defaults::remove("sound.finale");
        sound.played().clear();
        Chime::play(Kind::success, false);
        EXPECT_EQ(sound.played(), (std::vector<Played>{expected})) << stored.value_or("(none)");
    }
    // The finale kinds asked for directly keep their own player.
    sound.played().clear();
    Chime::play(Kind::harp, false);
    Chime::play(Kind::flip, false);
    EXPECT_EQ(sound.played(), (std::vector<Played>{{Kind::harp, 0.42}, {Kind::success, 0.42}}));
}

TEST_F(ChimePlayTest, SwitchesSilenceTheirSounds)
{
    Defaults::set("doneSound", false);
    Chime::play(Kind::failure, false);
    Chime::play(Kind::success, false);
    EXPECT_TRUE(sound.played().empty());
    Chime::play(Kind::failure, true);
    Chime::play(Kind::success, true);
    EXPECT_EQ(sound.played(), (std::vector<Played>{{Kind::failure, 0.5}, {Kind::wand, 0.42}}));

    sound.played().clear();
    Chime::card(Kind::shuffle);
    Chime::card(Kind::flip);
    Chime::card(Kind::success);
    EXPECT_EQ(sound.played(),
              (std::vector<Played>{{Kind::shuffle, 0.16}, {Kind::flip, 0.3}, {Kind::flip, 0.3}}));
    sound.played().clear();
    Defaults::set("cardSound", false);
    Chime::card(Kind::shuffle);
    Chime::card(Kind::flip);
    EXPECT_TRUE(sound.played().empty());
}

TEST_F(ChimePlayTest, FinaleNames)
{
    std::vector<std::string> names;
    for (auto finale : Chime::Finales::all())
        names.push_back(Chime::Finales::rawValue(finale) + "=" + Chime::Finales::name(finale));
    EXPECT_EQ(names, (std::vector<std::string>{"wand=Varinha", "harp=Harpa", "classic=Clássico"}));
}

}
