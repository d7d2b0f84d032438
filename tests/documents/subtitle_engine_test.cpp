#include "documents/subtitle_engine.h"

#include "core/base/conversion_error.h"
#include "core/engines/time_text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <system_error>

using namespace TestSupport;

TEST(SubtitleTime, ReadsMinutesAndHoursStrictlyAndStamps)
{
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {"1:30", 90},
        {"01:02:03,5", 3723.5},
        {"\u00A0\t2:00\u3000", 120},
        {"0:75", 75},
        {"1::30", 90},
        {"-1:30", -30},
        {"1e1:0", 600},
        {".5:1.", 31},
        {"90", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {":45:", std::nullopt},
        {"1 :30", std::nullopt},
        {"1:30\n", std::nullopt},
        {"inf:0", std::nullopt},
        {"0x1p3:0", std::nullopt},
        {"1:1e", std::nullopt},
        {"1:٣٠", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(TimeParse::clock(text), expected) << text;
    EXPECT_TRUE(std::isinf(TimeParse::clock("1e400:0").value()));
    EXPECT_EQ(SubtitleEngine::stamp(3661.5, ','), "01:01:01,500");
    EXPECT_EQ(SubtitleEngine::stamp(0.0005, '.'), "00:00:00.001");
    EXPECT_EQ(SubtitleEngine::stamp(100 * 3600 + 59.999, ','), "100:00:59,999");
}

TEST(SubtitleParse, LineEndsMarksHeadersAndBadBlocks)
{
    auto fromWindows = SubtitleEngine::parse("\xEF\xBB\xBF"
                                             "1\r\n00:00:01,000 --> 00:00:02,000\r\nOlá\r\nmundo\r\n\r\n"
                                             "2\r\n00:00:03,000 --> 00:00:04,500\r\nTchau\r\n");
    ASSERT_EQ(fromWindows.size(), 2u);
    EXPECT_EQ(fromWindows[0].text, "Olá\nmundo");
    EXPECT_DOUBLE_EQ(fromWindows[1].end, 4.5);

    auto cues = SubtitleEngine::parse("WEBVTT\n\nNOTE isto é um comentário\n\n"
                                      "intro\n00:01.000 --> 00:02.500 align:start position:10%\n  Oi  \n\n"
                                      "00:00:01,000 --> 00:00:02,000 --> 00:00:03,000\nDuas setas\n\n"
                                      "00:00:04,000 --> 00:00:05,000\n   \n\n"
                                      "xx --> 00:00:09,000\nHora ruim\n\n"
                                      "sem tempo\n");
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_DOUBLE_EQ(cues[0].start, 1);
    EXPECT_DOUBLE_EQ(cues[0].end, 2.5);
    EXPECT_EQ(cues[0].text, "Oi");

    // A part with a minus sign counts with it; the cue stays.
    cues = SubtitleEngine::parse("00:01:-5,000 --> 00:01:00,000\nCinco antes\n\n"
                                 "0:-30 --> 00:00:01,000\nInício negativo\n");
    ASSERT_EQ(cues.size(), 2u);
    EXPECT_DOUBLE_EQ(cues[0].start, 55);
    EXPECT_DOUBLE_EQ(cues[1].start, -30);
}

TEST(SubtitleConvert, WritesEachFormat)
{
    const std::string srt = "1\n00:00:05,000 --> 00:00:06,000\n<i>Olá</i>, <font color=\"red\">mundo</font>\n\n"
                            "2\n100:00:00,000 --> 100:00:01,042\nSegunda\nlinha\n";
    const std::string vtt = "WEBVTT\n\nc1\n00:05.000 --> 00:06.000 line:0\n<b>Forte</b> <c.amarelo>cor</c>\n";
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
        {"a.srt", srt, "vtt",
            "WEBVTT\n\n00:00:05.000 --> 00:00:06.000\n<i>Olá</i>, <font color=\"red\">mundo</font>\n\n"
            "100:00:00.000 --> 100:00:01.042\nSegunda\nlinha\n"},
        {"a.srt", srt, "txt", "Olá, mundo\nSegunda\nlinha\n"},
        {"a.vtt", vtt, "srt", "1\n00:00:05,000 --> 00:00:06,000\n<b>Forte</b> cor\n"},
        {"menos.srt", "1\n00:01:-5,000 --> 00:01:00,000\nCinco antes\n", "vtt",
            "WEBVTT\n\n00:00:55.000 --> 00:01:00.000\nCinco antes\n"},
    };
    for (const auto& [name, text, ext, expected] : cases) {
        TempDir dir;
        writeFile(dir / name, text);
        EXPECT_EQ(readFile(SubtitleEngine::convert(dir / name, {ext, ext, false})), expected) << ext;
    }

    // Big files take linear time: Windows line ends throughout, a cue of unclosed "<".
    TempDir dir;
    std::string big;
    for (int i = 0; i < 100000; ++i)
        big += "00:00:01,000 --> 00:00:02,000\r\nx\r\n\r\n";
    writeFile(dir / "longo.srt", big + "00:00:01,000 --> 00:00:02,000\r\n" + std::string(500000, '<'));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readFile(SubtitleEngine::convert(dir / "longo.srt", {"txt", "txt", false})).size(), 100000 * 2 + 500001);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SubtitleConvert, FailuresAreReported)
{
    TempDir dir;
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"vazio.srt", "1\n00:00:01,000 --> 00:00:02,000\n\n", "vtt"},
        {"enorme.srt", "1\n1e300:00 --> 1e300:01\nNunca\n", "vtt"},
        {"ok.srt", "1\n00:00:01,000 --> 00:00:02,000\nok\n", "ass"},
    };
    for (const auto& [name, text, ext] : cases) {
        writeFile(dir / name, text);
        EXPECT_THROW(SubtitleEngine::convert(dir / name, {ext, ext, false}), ConversionError) << name;
    }
    writeFile(dir / "latin.srt", "1\n00:00:01,000 --> 00:00:02,000\nol\xE1\n");
    EXPECT_THROW(SubtitleEngine::convert(dir / "latin.srt", {"vtt", "vtt", false}), std::system_error);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}
