#include "core/base/app_paths.h"
#include "core/base/error_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

fs::path logFile() { return AppPaths::stateDir() / "erros.log"; }

TEST(ErrorLogTest, LinesAreStampedTrimmedFrom501To400AndReadBackWithoutEmptyOnes)
{
    fs::remove_all(AppPaths::stateDir());
    EXPECT_EQ(ErrorLog::recent(30), "(nenhum erro registrado)");
    for (int i = 1; i <= 501; ++i)
        ErrorLog::add("a.png → JPG: linha " + std::to_string(i));
    const auto text = TestSupport::readFile(logFile());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 400);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ  a\.png → JPG: linha 102\n)")))
        << text.substr(0, 80);
    EXPECT_TRUE(text.ends_with("  a.png → JPG: linha 501\n"));

    TestSupport::writeFile(logFile(), "one\n\n\ntwo\n");
    ErrorLog::add("three\nfour");
    EXPECT_EQ(ErrorLog::recent(3).substr(0, 4), "two\n");
    EXPECT_TRUE(ErrorLog::recent(3).ends_with("  three\nfour"));
    EXPECT_EQ(ErrorLog::recent(30).substr(0, 4), "one\n");
    TestSupport::writeFile(logFile(), "\xff\xfe bad\n");
    EXPECT_EQ(ErrorLog::recent(30), "(nenhum erro registrado)");
}

}
