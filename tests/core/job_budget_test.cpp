#include "core/base/file_safety.h"
#include "core/base/job_budget.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr unsigned long long GiB = 1ULL << 30, MiB = 1ULL << 20;

}

TEST(JobBudget, TheJobsThatMayRunTogetherFitBesideTheSession)
{
    for (const auto machine : {2 * GiB, 4 * GiB, 6 * GiB, 8 * GiB, 12 * GiB, 16 * GiB, 23 * GiB + 400 * MiB, 24 * GiB, 32 * GiB, 64 * GiB, 256 * GiB}) {
        SCOPED_TRACE(std::to_string(machine / GiB) + " GiB");
        const auto budget = JobBudget::ofMachine(machine);
        const int places = JobBudget::places(machine, budget);
        ASSERT_GE(places, 1);
        ASSERT_LE(places, 3);
        // Four fifths of the machine hold every job that runs at once at both gates, where one
        // job at each fits at all.
        if (2 * budget <= machine / 5 * 4) {
            EXPECT_LE(2 * places * budget, machine / 5 * 4);
        }
        // And no place is left unused that would fit.
        if (places < 3) {
            EXPECT_GT(2 * (places + 1) * budget, machine / 5 * 4);
        }
        // A machine of today's size, as the kernel reports it, runs three conversions and three
        // tools at once.
        if (machine >= 23 * GiB) {
            EXPECT_EQ(places, 3);
        }
    }
}

TEST(JobBudget, TheBoundAFileDecidesIsMetBeforeTheWatchAndTheBackstops)
{
    // The test budgets too, far below a machine's.
    for (const auto budget : {120 * MiB, 512 * MiB, 3 * GiB, 5 * GiB, 8 * GiB}) {
        SCOPED_TRACE(std::to_string(budget / MiB) + " MiB");
        const auto limits = JobBudget::limits(budget), ofLeast = JobBudget::limits(JobBudget::least);
        using Share = unsigned long long JobBudget::Limits::*;
        for (const Share share : {&JobBudget::Limits::wholePicture, &JobBudget::Limits::tool, &JobBudget::Limits::table,
                 &JobBudget::Limits::document, &JobBudget::Limits::unpacked, &JobBudget::Limits::pageContent,
                 &JobBudget::Limits::pictureInPDF, &JobBudget::Limits::drawing, &JobBudget::Limits::pagesDrawn}) {
            EXPECT_GT(limits.*share, 0u);
            EXPECT_LT(limits.*share, limits.picture);
            // A file's bound is the same on every machine: a larger budget does not let more in.
            EXPECT_LE(limits.*share, ofLeast.*share);
        }
        EXPECT_LT(limits.picture, limits.resident);
        EXPECT_LT(limits.resident, limits.written);
        EXPECT_LT(limits.written, limits.data);
        EXPECT_LT(limits.data, limits.addressSpace);
    }
}

TEST(JobBudget, AFilesBoundIsAShareOfTheBudgetTheJobIsGiven)
{
    // A drawing of 6 MiB of text: far below its share of a machine's budget, past its share of a
    // budget of 120 MiB, where it is refused with the drawing's own sentence before any watch.
    FileSafety::TempDir dir;
    const auto drawing = dir.path() / "desenho.svg";
    TestSupport::writeFile(drawing, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" height=\"30\"><!--"
            + std::string(6 << 20, '.') + "--><rect width=\"40\" height=\"30\" fill=\"#3366cc\"/></svg>");
    const std::vector<std::string> arguments{"--convert", "png", drawing.string()};
    const auto little = TestSupport::runBrivlon(arguments, 120, {{"BRIVLON_JOB_MEMORY", "120"}});
    EXPECT_EQ(little.exitCode, 1);
    EXPECT_NE(little.err.find("O desenho é grande demais para abrir."), std::string::npos) << little.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "desenho.png"));
    const auto whole = TestSupport::runBrivlon(arguments, 120, {{"BRIVLON_JOB_MEMORY", "3072"}});
    EXPECT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "desenho.png"));
}
