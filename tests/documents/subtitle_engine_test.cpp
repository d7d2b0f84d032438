#include "documents/subtitle_engine.h"

#include "core/conversion_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <system_error>

using namespace TestSupport;

namespace {

OutputFormat format(const std::string& ext)
{
    return {ext, ext, false};
}

std::string convertText(const std::string& name, const std::string& contents, const std::string& ext)
{
    TempDir dir;
    writeFile(dir / name, contents);
    auto output = SubtitleEngine::convert(dir / name, format(ext));
    EXPECT_EQ(output.parent_path(), dir.path());
    EXPECT_EQ(output.extension(), "." + ext);
    return readFile(output);
}

}

TEST(SubtitleTime, ReadsMinutesAndHoursStrictly)
{
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {"1:30", 90},
        {"01:02:03,5", 3723.5},
        {" \t2:00  ", 120},
        {"\u00A02:00\u3000", 120},
        {"0:01:30,5", 90.5},
        {"0:75", 75},
        {"1::30", 90},
        {"-1:30", -30},
        {"1e1:0", 600},
        {".5:1.", 31},
        {"+1:+2", 62},
        {"90", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {"1:xx", std::nullopt},
        {":45:", std::nullopt},
        {"", std::nullopt},
        {"1 :30", std::nullopt},
        {"1:30\n", std::nullopt},
        {"inf:0", std::nullopt},
        {"1:nan", std::nullopt},
        {"0x1p3:0", std::nullopt},
        {"1:1e", std::nullopt},
        {"1:.", std::nullopt},
        {"1:٣٠", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        auto value = SubtitleEngine::time(text);
        ASSERT_EQ(value.has_value(), expected.has_value());
        if (expected) {
            EXPECT_DOUBLE_EQ(*value, *expected);
        }
    }
    EXPECT_TRUE(std::isinf(SubtitleEngine::time("1e400:0").value()));
}

TEST(SubtitleStamp, PadsAndWidensHours)
{
    EXPECT_EQ(SubtitleEngine::stamp(3661.5, ','), "01:01:01,500");
    EXPECT_EQ(SubtitleEngine::stamp(0.0004, '.'), "00:00:00.000");
    EXPECT_EQ(SubtitleEngine::stamp(0.0005, '.'), "00:00:00.001");
    EXPECT_EQ(SubtitleEngine::stamp(100 * 3600 + 59.999, ','), "100:00:59,999");
    EXPECT_EQ(SubtitleEngine::stamp(12345 * 3600.0, '.'), "12345:00:00.000");
}

TEST(SubtitleParse, WindowsLineEndsAndByteOrderMarkReadLikePlainText)
{
    const std::string plain = "1\n00:00:01,000 --> 00:00:02,000\nOlá\nmundo\n\n2\n00:00:03,000 --> 00:00:04,500\nTchau\n";
    std::string windows = "\xEF\xBB\xBF" + plain;
    for (size_t at = 0; (at = windows.find('\n', at)) != std::string::npos; at += 2)
        windows.replace(at, 1, "\r\n");
    const auto expected = SubtitleEngine::parse(plain);
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(expected[0].text, "Olá\nmundo");
    EXPECT_DOUBLE_EQ(expected[1].end, 4.5);
    for (const auto& variant : {windows, "\xEF\xBB\xBF" + plain}) {
        auto cues = SubtitleEngine::parse(variant);
        ASSERT_EQ(cues.size(), expected.size());
        for (size_t i = 0; i < cues.size(); ++i) {
            EXPECT_EQ(cues[i].text, expected[i].text);
            EXPECT_EQ(cues[i].start, expected[i].start);
            EXPECT_EQ(cues[i].end, expected[i].end);
        }
    }
}

TEST(SubtitleParse, WebVttHeaderNotesAndCueSettings)
{
    auto cues = SubtitleEngine::parse("WEBVTT\n\nNOTE isto é um comentário\nem duas linhas\n\n"
                                      "intro\n00:01.000 --> 00:02.500 align:start position:10%\n  Oi  \n\n");
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_DOUBLE_EQ(cues[0].start, 1);
    EXPECT_DOUBLE_EQ(cues[0].end, 2.5);
    EXPECT_EQ(cues[0].text, "Oi");
}

TEST(SubtitleParse, SkipsBlocksThatCannotBeCues)
{
    auto cues = SubtitleEngine::parse("1\n00:00:01,000 --> 00:00:02,000 --> 00:00:03,000\nDuas setas\n\n"
                                      "2\n00:00:04,000 --> 00:00:05,000\n\n"
                                      "3\n00:00:06,000 --> 00:00:07,000\n   \n\n"
                                      "4\nxx --> 00:00:09,000\nHora ruim\n\n"
                                      "5\n00:00:10,000 --> 00:00:11,000\nFica\n\n"
                                      "6\nsem tempo\n");
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].text, "Fica");
}

TEST(SubtitleConvert, SrtToVttExactBytes)
{
    const auto out = convertText("aula.srt",
                                 "1\n00:00:01,000 --> 00:00:02,500\n<i>Olá</i>, <font color=\"red\">mundo</font>\n\n"
                                 "2\n100:00:00,000 --> 100:00:01,042\nSegunda\nlinha\n",
                                 "vtt");
    EXPECT_EQ(out, "WEBVTT\n\n"
                   "00:00:01.000 --> 00:00:02.500\n<i>Olá</i>, <font color=\"red\">mundo</font>\n\n"
                   "100:00:00.000 --> 100:00:01.042\nSegunda\nlinha\n");
}

TEST(SubtitleConvert, VttToSrtExactBytes)
{
    const auto out = convertText("aula.vtt",
                                 "WEBVTT\n\nNOTE nada\n\nc1\n00:05.000 --> 00:06.000 line:0\n"
                                 "<b>Forte</b> <c.amarelo>cor</c> <u>s</u>\n\n"
                                 "00:00:01.000 --> 00:00:01.500\nAntes\n",
                                 "srt");
    EXPECT_EQ(out, "1\n00:00:05,000 --> 00:00:06,000\n<b>Forte</b> cor <u>s</u>\n\n"
                   "2\n00:00:01,000 --> 00:00:01,500\nAntes\n");
}

TEST(SubtitleConvert, TextDropsEveryTagAndTime)
{
    const auto out = convertText("a.srt",
                                 "1\n00:00:01,000 --> 00:00:02,000\n<i>Um</i> <font face=\"x\">dois</font>\n\n"
                                 "2\n00:00:03,000 --> 00:00:04,000\ntrês\nquatro\n",
                                 "txt");
    EXPECT_EQ(out, "Um dois\ntrês\nquatro\n");
}

TEST(SubtitleConvert, FailuresAreReported)
{
    TempDir dir;
    writeFile(dir / "vazio.srt", "1\n00:00:01,000 --> 00:00:02,000\n\n");
    try {
        SubtitleEngine::convert(dir / "vazio.srt", format("vtt"));
        FAIL() << "no cue must fail";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::unreadable);
        EXPECT_STREQ(error.what(), "Não foi possível ler o arquivo.");
    }

    // A time too large to be stamped is an unusable cue like any other.
    writeFile(dir / "enorme.srt", "1\n1e300:00 --> 1e300:01\nNunca\n");
    EXPECT_THROW(SubtitleEngine::convert(dir / "enorme.srt", format("srt")), ConversionError);

    writeFile(dir / "latin.srt", "1\n00:00:01,000 --> 00:00:02,000\nol\xE1\n");
    EXPECT_THROW(SubtitleEngine::convert(dir / "latin.srt", format("vtt")), std::system_error);

    writeFile(dir / "ok.srt", "1\n00:00:01,000 --> 00:00:02,000\nok\n");
    try {
        SubtitleEngine::convert(dir / "ok.srt", format("ass"));
        FAIL() << "an unknown target must fail";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::unsupported);
    }
    EXPECT_FALSE(fs::exists(dir / "latin.vtt"));
    EXPECT_FALSE(fs::exists(dir / "ok.ass"));
}

TEST(SubtitleConvert, NeverOverwritesAndKeepsCueOrder)
{
    TempDir dir;
    writeFile(dir / "f.srt", "1\n00:00:05,000 --> 00:00:06,000\nDepois\n\n2\n00:00:01,000 --> 00:00:09,000\nAntes\n");
    writeFile(dir / "f.vtt", "já existe");
    auto output = SubtitleEngine::convert(dir / "f.srt", format("vtt"));
    EXPECT_EQ(output, dir / "f 2.vtt");
    EXPECT_EQ(readFile(dir / "f.vtt"), "já existe");
    EXPECT_EQ(readFile(output), "WEBVTT\n\n00:00:05.000 --> 00:00:06.000\nDepois\n\n00:00:01.000 --> 00:00:09.000\nAntes\n");
}
