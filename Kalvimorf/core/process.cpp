#include "core/process.h"

#include "core/conversion_error.h"
#include "core/file_safety.h"
#include "core/task.h"

#include <QStringDecoder>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Process {

namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& overlay)
{
    std::vector<std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        auto name = text.substr(0, text.find('='));
        if (!overlay.count(name))
            result.push_back(std::move(text));
    }
    for (const auto& [name, value] : overlay)
        result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (auto& text : strings)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

}

Result run(const Command& command, const Sink& onStdout, const Sink& onStderr)
{
    const bool outToFd = command.stdoutFd >= 0;
    FileSafety::Pipe out, err = FileSafety::Pipe::make();
    if (!outToFd)
        out = FileSafety::Pipe::make();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outToFd ? command.stdoutFd : out.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (command.cwd)
        posix_spawn_file_actions_addchdir_np(&actions, command.cwd->c_str());

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so that terminating it also reaches anything it started.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t empty, defaults;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attributes, &empty);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);

    std::vector<std::string> argStrings;
    argStrings.push_back(command.executable);
    argStrings.insert(argStrings.end(), command.arguments.begin(), command.arguments.end());
    auto argv = pointers(argStrings);
    std::vector<std::string> envStrings;
    char** envp = environ;
    std::vector<char*> envPointers;
    if (!command.env.empty()) {
        envStrings = environmentWith(command.env);
        envPointers = pointers(envStrings);
        envp = envPointers.data();
    }

    pid_t pid = 0;
    int spawnError = posix_spawn(&pid, command.executable.c_str(), &actions, &attributes, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawnError != 0)
        throw std::system_error(spawnError, std::generic_category(), command.executable);

    out.write.reset();
    err.write.reset();

    // Cancellation only signals the child; this thread notices through the pipes closing.
    std::shared_ptr<Task::CancelToken> token = command.cancellable ? Task::current().cancel : nullptr;
    std::atomic<bool> killed{false};
    int handler = 0;
    if (token) {
        handler = token->onCancel([pid, &killed] {
            killed = true;
            ::kill(-pid, SIGTERM);
            ::kill(pid, SIGTERM);
        });
    }

    Result result;
    char buffer[65536];
    pollfd fds[2];
    int open = 0;
    if (out.read)
        fds[open++] = {out.read.get(), POLLIN, 0};
    fds[open++] = {err.read.get(), POLLIN, 0};
    auto killDeadline = std::chrono::steady_clock::time_point::max();
    while (open > 0) {
        int ready = ::poll(fds, nfds_t(open), token ? 200 : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (killed && killDeadline == std::chrono::steady_clock::time_point::max())
            killDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        if (killed && std::chrono::steady_clock::now() > killDeadline) {
            // It ignored the polite request.
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
        }
        for (int i = 0; i < open; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
            if (count < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (count <= 0) {
                fds[i] = fds[--open];
                --i;
                continue;
            }
            std::string_view chunk(buffer, size_t(count));
            const bool isOut = fds[i].fd == out.read.get();
            if (isOut) {
                if (onStdout)
                    onStdout(chunk);
                else
                    result.out.append(chunk);
            } else {
                if (onStderr)
                    onStderr(chunk);
                else
                    result.err.append(chunk);
            }
        }
    }

    // Unhooked before the child is reaped: until then its pid cannot belong to anyone else.
    if (token)
        token->removeHandler(handler);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.exitCode = 128 + WTERMSIG(status);
    }
    if (killed)
        throw CancellationError();
    return result;
}

std::string lastErrorLine(std::string_view stderrBytes, const std::string& executable)
{
    const auto fallback =
        executable.empty() ? std::string() : std::filesystem::path(executable).filename().string() + " falhou.";
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(QByteArrayView(stderrBytes.data(), qsizetype(stderrBytes.size())));
    if (decoder.hasError())
        return fallback;
    const auto lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return fallback;
    return lines.back().toStdString();
}

}
