#include "core/jobs/worker.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

// The worker that `parent` started, found by its parent and its command line; 0 for none.
pid_t workerOf(qint64 parent)
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // "pid (name) state ppid …": the name may hold spaces and brackets, the last ')' ends it.
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        qint64 ppid = 0;
        rest >> state >> ppid;
        if (ppid != parent)
            continue;
        const auto command = TestSupport::readFile(entry.path() / "cmdline");
        if (command.find(std::string("\0", 1) + Worker::option + std::string("\0", 1)) != std::string::npos)
            return pid_t(std::stoi(name));
    }
    return 0;
}

}

// Arguments that no option takes start the desktop program: it loads its first worker, keeps
// running and prints nothing of its own.
TEST(EntryPoint, UntakenArgumentsFallThroughToTheNormalStart)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--Convert", "png", "a.jpg"},
        {"--convert", "png"},
        {"--tool", "notATool", "--", "a.png"},
        {"--render-fan", "sideways", "a", "b"},
        {"--export-chime"},
        {"--whatever"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? std::string("(none)") : arguments.front());
        QProcess process;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        QStringList list;
        for (const auto& argument : arguments)
            list << QString::fromStdString(argument);
        process.start(BRIVLON_BINARY, list);
        ASSERT_TRUE(process.waitForStarted(10000));
        pid_t worker = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!worker && process.state() == QProcess::Running && std::chrono::steady_clock::now() < deadline) {
            process.waitForFinished(20);
            worker = workerOf(process.processId());
        }
        EXPECT_NE(worker, 0) << "exited with " << process.exitCode() << ": "
                             << process.readAllStandardError().toStdString();
        EXPECT_EQ(process.state(), QProcess::Running);
        process.kill();
        process.waitForFinished(5000);
        if (worker)
            ::kill(worker, SIGKILL);
        EXPECT_EQ(process.readAllStandardOutput().toStdString(), "");
    }
}
