#include "core/base/process.h"

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/task.h"

#include <QStringDecoder>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/socket.h>
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

// Every running child, for Live.
namespace {

std::mutex liveMutex;
std::set<pid_t> livePids;
bool refusing = false;
std::atomic<bool> ownGroups{true};

// The child's group too: a tool's own children (a packer's compressor) end with it.
void signalChild(pid_t pid, int signal)
{
    ::kill(-pid, signal);
    ::kill(pid, signal);
}

void setUpAttributes(posix_spawnattr_t& attributes, bool forceOwnGroup = false)
{
    posix_spawnattr_init(&attributes);
    const short group = ownGroups || forceOwnGroup ? POSIX_SPAWN_SETPGROUP : 0;
    posix_spawnattr_setflags(&attributes, short(group | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t empty, defaults;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attributes, &empty);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
}

// Starts the child and makes it known to Live; destroys both spawn descriptions.
pid_t spawn(const Command& command, posix_spawn_file_actions_t& actions, posix_spawnattr_t& attributes)
{
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
    // Registered under the lock, so a sweep of Live never misses a child that is starting.
    std::lock_guard lock(liveMutex);
    int spawnError = posix_spawn(&pid, command.executable.c_str(), &actions, &attributes, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawnError != 0)
        throw std::system_error(spawnError, std::generic_category(), command.executable);
    livePids.insert(pid);
    if (refusing)
        signalChild(pid, SIGKILL);
    return pid;
}

// Waits for the child's end without reaping it, then forgets it. Until the reap its pid cannot
// belong to anyone else, so a signal sent through Live never reaches a stranger.
void awaitEnd(pid_t pid)
{
    siginfo_t info;
    while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) { }
    std::lock_guard lock(liveMutex);
    livePids.erase(pid);
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
    setUpAttributes(attributes, command.ownGroup);

    const pid_t pid = spawn(command, actions, attributes);

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
    const auto timeLimit = command.timeLimit ? std::chrono::steady_clock::now() + *command.timeLimit
                                             : std::chrono::steady_clock::time_point::max();
    const bool watch = token || command.timeLimit || command.ownGroup;
    bool mainEnded = false;
    while (open > 0) {
        int ready = ::poll(fds, nfds_t(open), watch ? 200 : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (!killed && !result.timedOut && std::chrono::steady_clock::now() > timeLimit) {
            result.timedOut = true;
            killed = true;
            ::kill(-pid, SIGTERM);
            ::kill(pid, SIGTERM);
        }
        // Helpers left behind by a tool that has exited would hold its pipes (and its files)
        // open for ever. Until the reap below the group's id cannot be anyone else's.
        if (command.ownGroup && !mainEnded) {
            siginfo_t info{};
            if (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
                mainEnded = true;
                ::kill(-pid, SIGKILL);
            }
        }
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
    awaitEnd(pid);
    if (command.ownGroup)
        ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.exitCode = 128 + WTERMSIG(status);
    }
    if (killed && !result.timedOut)
        throw CancellationError();
    return result;
}

std::string lastErrorLine(std::string_view stderrBytes, const std::string& executable)
{
    const auto fallback
        = executable.empty() ? std::string() : std::filesystem::path(executable).filename().string() + " falhou.";
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(QByteArrayView(stderrBytes.data(), qsizetype(stderrBytes.size())));
    if (decoder.hasError())
        return fallback;
    const auto lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return fallback;
    return lines.back().toStdString();
}

namespace Live {

void signalAll(int signal)
{
    std::lock_guard lock(liveMutex);
    for (pid_t pid : livePids)
        signalChild(pid, signal);
}

void refuseNew()
{
    std::lock_guard lock(liveMutex);
    refusing = true;
}

}

void setOwnGroups(bool own) { ownGroups = own; }

Child::Child(const Command& command)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw std::system_error(errno, std::generic_category(), "socketpair");
    channel_.reset(ends[0]);
    FileSafety::Fd theirs(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, theirs.get(), STDOUT_FILENO);
    if (command.cwd)
        posix_spawn_file_actions_addchdir_np(&actions, command.cwd->c_str());
    posix_spawnattr_t attributes;
    setUpAttributes(attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_ = spawn(command, actions, attributes);
}

Child::~Child()
{
    if (!reaped_) {
        kill();
        wait();
    }
}

void Child::kill()
{
    std::lock_guard lock(liveMutex);
    if (livePids.count(pid_))
        signalChild(pid_, SIGKILL);
}

int Child::wait()
{
    awaitEnd(pid_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
    reaped_ = true;
    return status;
}

}
