#include "core/job_fakes.h"
#include "support/private_home.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Not run on its own: the test below starts this program with only this case, which says where
// its home is and then ends as its input tells it, or waits for a signal.
TEST(PrivateHomeProbe, DISABLED_EndsAsItIsTold)
{
    std::printf("casa: %s\n", std::getenv("HOME"));
    std::fflush(stdout);
    std::string word;
    std::getline(std::cin, word);
    if (word == "exit")
        std::exit(3);
    if (word == "abort")
        std::abort();
    for (;;)
        ::pause();
}

// The home the probe printed, or empty when it printed none in time.
fs::path homeOf(QProcess& probe)
{
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && probe.state() != QProcess::NotRunning) {
        while (probe.canReadLine()) {
            const auto line = probe.readLine().trimmed().toStdString();
            if (line.starts_with("casa: "))
                return line.substr(6);
        }
        probe.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return {};
}

}

TEST(PrivateHome, GoesWithItsProgramHoweverTheProgramEnds)
{
    for (const std::string way : {"exit", "abort", "SIGTERM", "SIGINT", "SIGKILL"}) {
        SCOPED_TRACE(way);
        QProcess probe;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("BRIVLON_TEST_HOMES", QString::fromLocal8Bit(std::getenv("TMPDIR")));
        probe.setProcessEnvironment(environment);
        probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe.start(QCoreApplication::applicationFilePath(),
            {"--gtest_also_run_disabled_tests", "--gtest_filter=PrivateHomeProbe.*"});
        const auto home = homeOf(probe);
        ASSERT_FALSE(home.empty());
        // Inside this program's own home.
        ASSERT_TRUE(fs::is_directory(home / ".config"));
        ASSERT_EQ(home.parent_path(), fs::path(std::getenv("TMPDIR")));
        if (way == "exit" || way == "abort")
            probe.write(QByteArray::fromStdString(way + "\n"));
        else
            ::kill(pid_t(probe.processId()), way == "SIGTERM" ? SIGTERM : way == "SIGINT" ? SIGINT : SIGKILL);
        ASSERT_TRUE(probe.waitForFinished(30000));
        EXPECT_NE(probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1, 0);
        // The keeper removes it once the probe has gone.
        EXPECT_TRUE(JobFakes::pumpUntil(30, [&] {
            return !fs::exists(home);
        }));
    }
}
