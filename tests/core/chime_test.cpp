#include "core/state/chime.h"
#include "core/base/settings.h"
#include "job_fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

using Chime::Kind;
using JobFakes::Played;

namespace {

TEST(ChimeTest, EachSoundIsItsOwnAndPlaysAsAWavFileLoudWithoutClippingAndEndsInSilence)
{
    TestSupport::TempDir dir;
    std::set<std::vector<double>> distinct;
    for (auto kind : {Kind::success, Kind::failure, Kind::shuffle, Kind::flip, Kind::wand, Kind::harp}) {
        SCOPED_TRACE(Chime::rawValue(kind));
        const auto samples = Chime::samples(kind);
        distinct.insert(samples);

        // What a player hears: ffmpeg reads the file as it is, at the rate its header declares.
        const auto wav = Chime::wavData(kind);
        const auto file = dir / "chime.wav";
        TestSupport::writeFile(file, std::string(wav.begin(), wav.end()));
        const auto decoded = TestSupport::runProgram("/usr/bin/ffmpeg",
            {"-v", "error", "-i", file.string(), "-f", "f64le", "-ac", "1", "-ar", std::to_string(Chime::sampleRate),
                "-"});
        ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
        std::vector<double> heard(decoded.out.size() / sizeof(double));
        std::memcpy(heard.data(), decoded.out.data(), heard.size() * sizeof(double));
        ASSERT_EQ(heard.size(), samples.size());

        // Loud enough to notice, with headroom left: nothing reaches full scale.
        double peak = 0;
        for (double sample : heard)
            peak = std::max(peak, std::abs(sample));
        EXPECT_GT(peak, 0.5);
        EXPECT_LT(peak, 0.95);
        // The file holds these samples, only scaled: the synthesis gave the same twice.
        const double peakSamples = std::abs(*std::max_element(samples.begin(), samples.end(), [](double a, double b) {
            return std::abs(a) < std::abs(b);
        }));
        for (size_t at = 0; at < samples.size(); at += 97)
            ASSERT_NEAR(heard[at] / peak, samples[at] / peakSamples, 1e-3) << at;
        // No click when it stops: the last millisecond is all but silent.
        for (size_t at = heard.size() - Chime::sampleRate / 1000; at < heard.size(); ++at)
            ASSERT_LT(std::abs(heard[at]), 0.01 * peak) << at;
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
