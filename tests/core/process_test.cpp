#include "core/base/commands.h"
#include "core/base/conversion_error.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using TestSupport::TempDir;

namespace {

std::string failureOf(const std::string& script)
{
    try {
        Commands::run("/bin/sh", {"-c", script});
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::ffmpeg);
        return error.what();
    }
    return "(no failure)";
}

}

TEST(Commands, FailuresOutputEnvironmentFolderAndFullPipes)
{
    EXPECT_EQ(failureOf("printf 'a\\nb\\n\\n' >&2; exit 1"), "b");
    EXPECT_EQ(failureOf("exit 3"), "sh falhou.");
    EXPECT_EQ(failureOf("printf '\\377\\376\\n' >&2; exit 1"), "sh falhou.");  // not UTF-8
    // A tool killed by a signal fails the same way.
    EXPECT_EQ(failureOf("echo dying >&2; kill -9 $$"), "dying");
    // A launch failure must not read as the tool's own failure.
    EXPECT_THROW(Commands::run("/nonexistent/tool", {}), std::system_error);
    EXPECT_EQ(Commands::run("/bin/echo", {"a b", "*"}), "a b *\n");
    setenv("BRIVLON_TEST_INHERITED", "kept", 1);
    EXPECT_EQ(Commands::run("/bin/sh", {"-c", "echo $BRIVLON_TEST_INHERITED-$BRIVLON_TEST_EXTRA"},
                  {.env = {{"BRIVLON_TEST_EXTRA", "added"}}}),
        "kept-added\n");
    EXPECT_EQ(
        Commands::run("/bin/sh", {"-c", "echo $BRIVLON_TEST_INHERITED"}, {.env = {{"BRIVLON_TEST_INHERITED", "over"}}}),
        "over\n");
    TempDir dir;
    EXPECT_EQ(Commands::run("/bin/pwd", {}, {.cwd = dir.path()}), dir.path().string() + "\n");
    int fd = ::open((dir / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_EQ(Commands::run("/bin/echo", {"into the file"}, {.stdoutFd = fd}), "");  // all went into the file
    ::close(fd);
    EXPECT_EQ(TestSupport::readFile(dir / "out.txt"), "into the file\n");
    // 4 MB on each stream, interleaved: a reader that drains one pipe at a time deadlocks.
    auto out = Commands::run("/bin/sh",
        {"-c",
            "for i in 1 2 3 4; do head -c 1048576 /dev/zero; "
            "head -c 1048576 /dev/zero >&2; done"});
    EXPECT_EQ(out.size(), 4u * 1048576u);
}

TEST(Process, ChildrenStartWhileAnotherThreadChangesTheEnvironment)
{
    // As a worker starts the image library on a thread of its own while its job runs tools:
    // new names make the C library move the environment's table elsewhere.
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int round = 0; !done; ++round) {
            Process::EnvironmentChange change;
            for (int i = 0; i < 64; ++i)
                ::setenv(("BRIVLON_TEST_CHURN_" + std::to_string(round % 8) + "_" + std::to_string(i)).c_str(), "x", 1);
            for (int i = 0; i < 64; ++i)
                ::unsetenv(("BRIVLON_TEST_CHURN_" + std::to_string(round % 8) + "_" + std::to_string(i)).c_str());
        }
    });
    int started = 0;
    for (int i = 0; i < 300; ++i) {
        try {
            Commands::run("/bin/true", {},
                {.env = i % 2 ? std::map<std::string, std::string>{{"A", "b"}} : std::map<std::string, std::string>{}});
            ++started;
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
            break;
        }
    }
    done = true;
    changer.join();
    EXPECT_EQ(started, 300);
}

TEST(Process, CancellingTerminatesOnlyCancellableChildren)
{
    auto context = Task::newJob();
    Task::Binder binder(context);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    Process::Command command{"/bin/sh", {"-c", "echo $$; exec sleep 30"}};
    command.cancellable = true;
    // Cancelled once the child has said who it is, from another thread as a job's owner would.
    EXPECT_THROW(Process::run(command,
                     [&](std::string_view chunk) {
                         child = std::stoi(std::string(chunk));
                         std::thread([token = context.cancel] {
                             token->cancel();
                         }).join();
                     }),
        CancellationError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_GT(child, 0);
    EXPECT_EQ(::kill(child, 0), -1) << "the child is still alive";
    // Synchronous tool runs finish even when their job was cancelled.
    EXPECT_EQ(Commands::run("/bin/echo", {"done"}), "done\n");
}

// Quitting waits for the jobs' threads before static objects go: a thread counts as running
// until its work and everything the work held are gone, and the wait is bounded.
TEST(Task, DetachedThreadsCountUntilWhatTheirWorkHeldIsGone)
{
    std::atomic<bool> release{false}, freed{false};
    std::shared_ptr<int> held(new int(0), [&freed](int* value) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        delete value;
        freed = true;
    });
    Task::detach(Task::newJob(), [held = std::move(held), &release] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_FALSE(Task::awaitDetached(std::chrono::milliseconds(20)));
    release = true;
    EXPECT_TRUE(Task::awaitDetached(std::chrono::seconds(10)));
    EXPECT_TRUE(freed) << "the thread counted itself out while its work's captures still lived";
}
