// Our XLSX packages must open in a real spreadsheet application with the same cells. The
// check converts a package we wrote to CSV with a headless LibreOffice and compares the cells.

#include "documents/delimited.h"
#include "documents/xlsx.h"

#include "core/conversion_error.h"
#include "core/process.h"
#include "core/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace TestSupport;
using Rows = std::vector<SpreadsheetEngine::Row>;

namespace {

std::optional<std::string> officeSuite()
{
    for (const char* candidate : {"/usr/bin/soffice", "/usr/bin/libreoffice"})
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return std::nullopt;
}

// Runs the command, terminating it when it takes longer than `seconds`.
Process::Result runWithDeadline(Process::Command command, int seconds)
{
    command.cancellable = true;
    auto context = Task::newJob();
    auto token = context.cancel;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!finished.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; }))
            token->cancel();
    });
    Process::Result result;
    try {
        Task::Binder binder(context);
        result = Process::run(command);
    } catch (...) {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        finished.notify_all();
        watchdog.join();
        throw;
    }
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    finished.notify_all();
    watchdog.join();
    return result;
}

}

TEST(XlsxInOfficeSuite, OpensOurPackageWithTheSameCells)
{
    auto office = officeSuite();
    if (!office)
        GTEST_SKIP() << "no LibreOffice installed";
    TempDir dir;
    const Rows rows = {
        {"Nome", "Idade", "Obs"},
        {"Ana", "30", "  espaço & <tag> \"aspas\""},
        {"Bia", "-0.5", "vírgula, e\nquebra"},
        {"007", "", "1e5"},
        {"controle\x01sumiu", "12.25", "emoji \xF0\x9F\x98\x80"},
    };
    const std::string emoji = "\xF0\x9F\x98\x80";
    SpreadsheetEngine::writeXLSX({{"Dados", rows},
                                  {"Outra\x0B" + std::string(28, 'x') + emoji, {{"b"}}},
                                  {"Terceira & <última>", {{"c"}}}},
                                 dir / "tabela.xlsx");

    Process::Command command;
    command.executable = *office;
    command.arguments = {"-env:UserInstallation=file://" + (dir / "perfil").string(),
                         "--headless",
                         "--norestore",
                         "--nologo",
                         "--convert-to",
                         "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false",
                         "--outdir",
                         (dir / "saida").string(),
                         (dir / "tabela.xlsx").string()};
    command.env = {{"HOME", dir.path().string()}, {"LC_ALL", "C.UTF-8"}};
    auto result = runWithDeadline(command, 240);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto csv = dir / "saida" / "tabela.csv";
    ASSERT_TRUE(fs::exists(csv)) << result.out << result.err;

    auto text = readFile(csv);
    if (text.starts_with("\xEF\xBB\xBF"))
        text.erase(0, 3);
    auto cells = SpreadsheetEngine::parseDelimited(text, ',');
    Rows expected = rows;
    expected[4][0] = "controlesumiu";
    EXPECT_EQ(cells, expected);
}
