#include "core/conversion_error.h"
#include "core/process.h"
#include "core/shell.h"
#include "core/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QString>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using TestSupport::TempDir;

namespace {

std::string failureOf(const std::string& script, const std::map<std::string, std::string>& env = {})
{
    try {
        Shell::run("/bin/sh", {"-c", script}, {.env = env});
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::ffmpeg);
        return error.what();
    }
    return "(no failure)";
}

}

TEST(Shell, FailureCarriesTheLastErrorLine)
{
    EXPECT_EQ(failureOf("printf 'a\\nb\\n\\n' >&2; exit 1"), "b");
    EXPECT_EQ(failureOf("exit 3"), "sh falhou.");
    // Not UTF-8: the tool's name stands in.
    EXPECT_EQ(failureOf("printf '\\377\\376\\n' >&2; exit 1"), "sh falhou.");
    // A tool killed by a signal fails the same way.
    EXPECT_EQ(failureOf("echo dying >&2; kill -9 $$"), "dying");
    EXPECT_EQ(ConversionError::ffmpeg("").what(), std::string("O ffmpeg falhou."));
}

TEST(Shell, OutputEnvironmentAndWorkingFolder)
{
    EXPECT_EQ(Shell::run("/bin/echo", {"a b", "*"}), "a b *\n");
    setenv("BRIVLON_TEST_INHERITED", "kept", 1);
    EXPECT_EQ(Shell::run("/bin/sh", {"-c", "echo $BRIVLON_TEST_INHERITED-$BRIVLON_TEST_EXTRA"},
                         {.env = {{"BRIVLON_TEST_EXTRA", "added"}}}),
              "kept-added\n");
    EXPECT_EQ(Shell::run("/bin/sh", {"-c", "echo $BRIVLON_TEST_INHERITED"}, {.env = {{"BRIVLON_TEST_INHERITED", "over"}}}),
              "over\n");
    TempDir dir;
    EXPECT_EQ(Shell::run("/bin/pwd", {}, {.cwd = dir.path()}), dir.path().string() + "\n");

    // Straight into a file: nothing comes back.
    int fd = ::open((dir / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(Shell::run("/bin/echo", {"into the file"}, {.stdoutFd = fd}), "");
    ::close(fd);
    EXPECT_EQ(TestSupport::readFile(dir / "out.txt"), "into the file\n");
}

TEST(Shell, BothPipesFullDoNotHang)
{
    // 4 MB on each stream, interleaved: a reader that drains one pipe at a time deadlocks.
    auto out = Shell::run("/bin/sh", {"-c", "for i in 1 2 3 4; do head -c 1048576 /dev/zero; "
                                            "head -c 1048576 /dev/zero >&2; done"});
    EXPECT_EQ(out.size(), 4u * 1048576u);
}

TEST(Shell, LaunchFailureIsNotAConversionError)
{
    try {
        Shell::run("/nonexistent/tool", {});
        FAIL() << "no error";
    } catch (const ConversionError&) {
        FAIL() << "a launch failure must not read as the tool's failure";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
}

TEST(Process, CancellingTerminatesTheChild)
{
    auto context = Task::newJob();
    Task::Binder binder(context);
    std::thread canceller([token = context.cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        token->cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    Process::Command command{"/bin/sh", {"-c", "echo $$; exec sleep 30"}};
    command.cancellable = true;
    EXPECT_THROW(Process::run(command, [&](std::string_view chunk) { child = std::stoi(std::string(chunk)); }),
                 CancellationError);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_GT(child, 0);
    EXPECT_EQ(::kill(child, 0), -1) << "the child is still alive";
}

TEST(Process, UncancellableRunsFinish)
{
    auto context = Task::newJob();
    Task::Binder binder(context);
    context.cancel->cancel();
    // Synchronous tool runs finish even when their job was cancelled.
    EXPECT_EQ(Shell::run("/bin/echo", {"done"}), "done\n");
}

TEST(Process, StderrSinkGetsEverythingInOrder)
{
    std::string seen;
    Process::Command command{"/bin/sh", {"-c", "for i in 1 2 3; do echo line$i >&2; done"}};
    auto result = Process::run(command, {}, [&](std::string_view chunk) { seen.append(chunk); });
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(seen, "line1\nline2\nline3\n");
    EXPECT_TRUE(result.err.empty());
}
