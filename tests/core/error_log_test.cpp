#include "core/app_paths.h"
#include "core/error_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

fs::path logFile()
{
    return AppPaths::stateDir() / "erros.log";
}

int lineCount(const std::string& text)
{
    return int(std::count(text.begin(), text.end(), '\n'));
}

}

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override { fs::remove_all(AppPaths::stateDir()); }
};

TEST_F(ErrorLogTest, FirstLineCreatesFoldersAndFormat)
{
    EXPECT_EQ(ErrorLog::recent(30), "(nenhum erro registrado)");
    ErrorLog::add("a.png → JPG: Não foi possível ler o arquivo.");
    const auto text = TestSupport::readFile(logFile());
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ  a\.png → JPG: Não foi possível ler o arquivo\.\n)")))
        << text;
}

TEST_F(ErrorLogTest, TrimsFrom501To400)
{
    for (int i = 1; i <= 500; ++i)
        ErrorLog::add("line " + std::to_string(i));
    EXPECT_EQ(lineCount(TestSupport::readFile(logFile())), 500);
    ErrorLog::add("line 501");
    const auto text = TestSupport::readFile(logFile());
    EXPECT_EQ(lineCount(text), 400);
    EXPECT_NE(text.find("  line 102\n"), std::string::npos);
    EXPECT_EQ(text.find("  line 101\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("  line 501\n"));
}

TEST_F(ErrorLogTest, RecentLinesIgnoreEmptyOnesAndSplitMessages)
{
    TestSupport::writeFile(logFile(), "");
    EXPECT_EQ(ErrorLog::recent(30), "");
    TestSupport::writeFile(logFile(), "one\n\n\ntwo\n");
    ErrorLog::add("three\nfour");
    auto recent = ErrorLog::recent(3);
    EXPECT_EQ(recent.substr(0, 4), "two\n");
    EXPECT_TRUE(recent.ends_with("  three\nfour"));
    EXPECT_EQ(ErrorLog::recent(30).substr(0, 4), "one\n");
    TestSupport::writeFile(logFile(), "\xff\xfe bad\n");
    EXPECT_EQ(ErrorLog::recent(30), "(nenhum erro registrado)");
}
