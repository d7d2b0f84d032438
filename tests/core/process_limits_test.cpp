#include "core/base/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

Process::Result python(const std::string& code, std::optional<unsigned long long> memoryLimit = {})
{
    Process::Command command{"/usr/bin/python3", {"-c", code}};
    command.memoryLimit = memoryLimit;
    return Process::run(command);
}

// Gone, or a zombie nobody has reaped yet: either way it no longer runs.
bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto state = line.substr(line.rfind(')') + 2, 1);
    return state != "Z" && state != "X";
}

}

TEST(ProcessLimits, ErrorOutputKeepsItsHeadAndTailOnly)
{
    // 100 MB of complaints, as a damaged archive can make an unpacker print.
    auto result = python("import sys\nsys.stderr.write('first cause\\n')\n"
                         "for _ in range(100000): sys.stderr.write('x' * 1000 + '\\n')\n"
                         "sys.stderr.write('last line\\n')");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_LT(result.err.size(), 4 * Process::errorKeep);
    EXPECT_EQ(result.err.rfind("first cause", 0), 0u);
    EXPECT_EQ(Process::lastErrorLine(result.err), "last line");
}

TEST(ProcessLimits, OutputPastItsBoundEndsTheChild)
{
    // A tool that would print without end, as an unpacker fed a bomb does.
    Process::Command command{"/usr/bin/python3", {"-c", "import sys\nwhile True: sys.stdout.write('x' * 65536)"}};
    command.outputLimit = 1 << 20;
    const auto result = Process::run(command);
    EXPECT_TRUE(result.outputCut);
    EXPECT_EQ(result.out.size(), size_t(1 << 20));
    EXPECT_TRUE(result.signaled);
}

TEST(ProcessLimits, AToolRepeatingItsComplaintsWithoutOutputIsStopped)
{
    // Stands for an unpacker stuck on a damaged header, retrying it for ever; and for one that
    // names every entry it cannot write, which is not stuck.
    const auto run = [](const std::string& code) {
        Process::Command command{"/usr/bin/python3", {"-c", code}};
        command.repeatLimit = 1000;
        const auto started = std::chrono::steady_clock::now();
        auto result = Process::run(command);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        return result;
    };
    const auto stuck = run("import sys\nwhile True: sys.stderr.write('x.rar: Truncated data\\nRetrying...\\n')");
    EXPECT_TRUE(stuck.looping);
    EXPECT_EQ(Process::lastErrorLine(stuck.err), "Retrying...");
    const auto named = run("import sys\nfor n in range(5000): sys.stderr.write('foto%d.jpg: Cannot create\\n' % n)\n"
                           "sys.exit(1)");
    EXPECT_FALSE(named.looping);
    EXPECT_EQ(named.exitCode, 1);
}

TEST(ProcessLimits, ChildrenHaveNoTerminalNoInputAndABoundedAddressSpace)
{
    auto session = python("import os, sys\nprint(os.getsid(0) == os.getpid(), sys.stdin.read() == '')");
    EXPECT_EQ(session.out, "True True\n");
    EXPECT_NE(python("b = bytearray(1 << 30)", 256ull << 20).exitCode, 0);
    EXPECT_EQ(python("b = bytearray(64 << 20)", 512ull << 20).exitCode, 0);
}

TEST(ProcessLimits, AToolDiesWithTheProgramThatStartedIt)
{
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t program = ::fork();
    if (program == 0) {
        // Stands for a program killed mid-run: its tool reports its pid, then would run a minute.
        ::close(report[0]);
        Process::Command command{
            "/usr/bin/python3", {"-c", "import os, time\nprint(os.getpid(), flush=True)\ntime.sleep(60)"}};
        Process::run(command, [&](std::string_view text) {
            (void)!::write(report[1], text.data(), text.size());
        });
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    char buffer[64];
    for (ssize_t count; text.find('\n') == std::string::npos && (count = ::read(report[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(count));
    ::close(report[0]);
    const pid_t tool = std::stoi(text);
    ASSERT_TRUE(running(tool));
    ::kill(program, SIGKILL);
    ::waitpid(program, nullptr, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (running(tool) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(running(tool));
}
