#include "core/base/app_paths.h"
#include "core/base/error_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <sys/stat.h>

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
    // Blank lines say nothing: a message of only those leaves the log as it was.
    const auto before = TestSupport::readFile(logFile());
    ErrorLog::add("");
    ErrorLog::add(" \n\n\t");
    EXPECT_EQ(TestSupport::readFile(logFile()), before);
    TestSupport::writeFile(logFile(), "\xff\xfe bad\n");
    EXPECT_EQ(ErrorLog::recent(30), "(nenhum erro registrado)");
    // The tests after this one in the same process log through the same file.
    fs::remove(logFile());
}

}

namespace {

// A log grown by hand or by another program: a gigabyte (sparse, so the disk stays free), one
// long line without an end, thousands of short lines. Only its end is read: every add keeps the
// last whole lines within the bound, and reading back costs the same as for a small log.
TEST(ErrorLogTest, AnyLogIsReadFromItsEndAndKeptWithinBytesAndLines)
{
    fs::remove_all(AppPaths::stateDir());
    fs::create_directories(AppPaths::stateDir());
    const auto huge = [] {
        std::ofstream(logFile()) << "início\n";
        fs::resize_file(logFile(), 1LL << 30);
    };
    const auto longLine = [] {
        TestSupport::writeFile(logFile(), std::string(3 << 20, 'x'));
    };
    const auto manyLines = [] {
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += "linha " + std::to_string(i) + "\n";
        TestSupport::writeFile(logFile(), text);
    };
    for (const std::function<void()>& make : {std::function<void()>(huge), std::function<void()>(longLine), std::function<void()>(manyLines)}) {
        make();
        ErrorLog::add("a.png → JPG: nova");
        const auto size = fs::file_size(logFile());
        EXPECT_LE(size, 256u << 10);
        const auto text = TestSupport::readFile(logFile());
        EXPECT_TRUE(text.ends_with("  a.png → JPG: nova\n"));
        EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 400);
        EXPECT_TRUE(ErrorLog::recent(30).ends_with("  a.png → JPG: nova"));
    }
    // Read back without the trim: only whole lines of the end, within the bound.
    huge();
    std::ofstream(logFile(), std::ios::app) << "\nfim\n";
    EXPECT_EQ(ErrorLog::recent(30), "fim");

    // A pipe at the log's name holds nobody and is left alone.
    fs::remove(logFile());
    ASSERT_EQ(::mkfifo(logFile().c_str(), 0600), 0);
    ErrorLog::add("perdida");
    EXPECT_EQ(ErrorLog::recent(30), "(nenhum erro registrado)");
    EXPECT_TRUE(fs::is_fifo(logFile()));
    fs::remove(logFile());
}

}
