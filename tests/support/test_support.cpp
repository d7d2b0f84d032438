#include "support/test_support.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace TestSupport {

namespace {
bool widgets = false;
}

bool wantWidgets() { return widgets = true; }
bool widgetsWanted() { return widgets; }

void writeFile(const fs::path& path, const std::string& contents)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments, double timeoutSeconds,
    const std::vector<std::pair<std::string, std::string>>& env, const std::string& cwd)
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : env)
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    process.setProcessEnvironment(environment);
    if (!cwd.empty())
        process.setWorkingDirectory(QString::fromStdString(cwd));
    QStringList list;
    for (const auto& argument : arguments)
        list << QString::fromStdString(argument);
    process.start(QString::fromStdString(program), list);
    RunResult result;
    if (!process.waitForStarted(10000))
        return result;
    if (!process.waitForFinished(int(timeoutSeconds * 1000))) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(5000);
    } else {
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

bool makeMedia(const fs::path& out, const std::string& source, std::vector<std::string> options)
{
    options.insert(options.begin(), {"-loglevel", "error", "-f", "lavfi", "-i", source});
    options.push_back(out.string());
    return runProgram("/usr/bin/ffmpeg", options).exitCode == 0;
}

MeasuredRun measureBrivlon(const std::vector<std::string>& arguments)
{
    std::vector<std::string> strings{BRIVLON_BINARY};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : strings)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::execv(BRIVLON_BINARY, argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage { };
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return {};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss / 1024};
}

RunResult runBrivlon(const std::vector<std::string>& arguments, double timeoutSeconds,
    const std::vector<std::pair<std::string, std::string>>& env)
{
    return runProgram(BRIVLON_BINARY, arguments, timeoutSeconds, env);
}

}
