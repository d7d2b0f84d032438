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
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <set>
#include <shared_mutex>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Process {

namespace {

// Shared by every start of a child, taken alone by an EnvironmentChange.
std::shared_mutex environmentMutex;

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

// The process group of a process, from /proc; 0 when it cannot be read.
pid_t groupOf(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[512];
    const ssize_t count = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (count <= 0)
        return 0;
    text[count] = '\0';
    // "pid (name) state ppid pgrp …"; the name may hold blanks and parentheses.
    const char* close = std::strrchr(text, ')');
    char state = 0;
    int parent = 0, group = 0;
    if (!close || std::sscanf(close + 1, " %c %d %d", &state, &parent, &group) != 3)
        return 0;
    return pid_t(group);
}

// A tool and every helper it started. With a session of its own the tool leads a group that
// holds them all. Inside a worker tools stay in the worker's group, so that the parent ending
// that group ends them too; there the helpers are the group's other members, since a worker
// runs one job.
void signalTool(pid_t pid, bool ownSession, int signal)
{
    if (ownSession) {
        signalChild(pid, signal);
        return;
    }
    ::kill(pid, signal);
    const pid_t group = ::getpgrp();
    if (group != ::getpid())
        return;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t other = pid_t(std::stol(name));
        if (other != group && groupOf(other) == group)
            ::kill(other, signal);
    }
}

// What the child does between its start and exec. Prepared in full by the parent: the child
// shares the parent's memory until exec and may only make system calls.
struct Launch {
    const char* path = nullptr;
    char** argv = nullptr;
    char** envp = nullptr;
    const char* cwd = nullptr;
    int in = -1;  // -1: /dev/null
    int out = -1;
    int err = -1;  // -1: inherited
    bool ownSession = true;
    bool dieWithParent = true;
    pid_t parent = 0;
    std::optional<unsigned long long> memoryLimit;
    std::optional<unsigned long long> fileSizeLimit;
    const Bounds* bounds = nullptr;
    int error = 0;  // written by the child when exec fails
};

[[noreturn]] __attribute__((noinline)) void becomeChild(Launch* launch)
{
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGQUIT})
        ::signal(signal, SIG_DFL);
    // A new session: no controlling terminal, so a tool that wants a passphrase fails instead
    // of stopping the run, and no terminal signal reaches it. It leads its own process group.
    if (launch->ownSession)
        ::setsid();
    if (launch->dieWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have died before the line above; then nobody would ever kill this one.
        if (::getppid() != launch->parent)
            ::_exit(127);
    }
    if (launch->memoryLimit) {
        rlimit limit{rlim_t(*launch->memoryLimit), rlim_t(*launch->memoryLimit)};
        ::setrlimit(RLIMIT_AS, &limit);
    }
    if (launch->fileSizeLimit) {
        rlimit limit{rlim_t(*launch->fileSizeLimit), rlim_t(*launch->fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    int in = launch->in >= 0 ? launch->in : ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || (launch->out >= 0 && ::dup2(launch->out, STDOUT_FILENO) < 0)
        || (launch->err >= 0 && ::dup2(launch->err, STDERR_FILENO) < 0) || (launch->cwd && ::chdir(launch->cwd) != 0)) {
        launch->error = errno;
        ::_exit(127);
    }
    if (launch->bounds)
        launch->bounds->enter();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(launch->path, launch->argv, launch->envp);
    launch->error = errno;
    ::_exit(127);
}

// Starts the child and makes it known to Live.
pid_t spawn(const Command& command, Launch launch)
{
    std::vector<std::string> argStrings;
    argStrings.push_back(command.executable);
    argStrings.insert(argStrings.end(), command.arguments.begin(), command.arguments.end());
    auto argv = pointers(argStrings);
    // Until exec the child reads the environment, as this thread does for the overlay.
    std::shared_lock environmentLock(environmentMutex);
    std::vector<std::string> envStrings;
    std::vector<char*> envPointers;
    launch.envp = environ;
    if (!command.env.empty()) {
        envStrings = environmentWith(command.env);
        envPointers = pointers(envStrings);
        launch.envp = envPointers.data();
    }
    launch.path = command.executable.c_str();
    launch.argv = argv.data();
    launch.cwd = command.cwd ? command.cwd->c_str() : nullptr;
    launch.memoryLimit = command.memoryLimit;
    launch.fileSizeLimit = command.fileSizeLimit;
    // The job's bounds, for a tool started for a job in the process that keeps the job's files.
    const auto bounds = Task::current().bounds;
    launch.bounds = bounds.get();
    launch.parent = ::getpid();

    // No handler of this process may run in the child while it borrows this memory.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    // Registered under the lock, so a sweep of Live never misses a child that is starting.
    std::lock_guard lock(liveMutex);
    const pid_t pid = ::vfork();
    if (pid == 0)
        becomeChild(&launch);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0)
        throw std::system_error(forkError, std::generic_category(), command.executable);
    if (launch.error != 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
        throw std::system_error(launch.error, std::generic_category(), command.executable);
    }
    livePids.insert(pid);
    if (refusing)
        signalChild(pid, SIGKILL);
    return pid;
}

// Counts the lines of a stream that repeat earlier ones word for word.
class RepeatCount {
public:
    // The repeats so far, with the chunk's whole lines counted.
    size_t add(std::string_view chunk)
    {
        for (char c : chunk) {
            if (c != '\n') {
                if (line_.size() < 256)
                    line_ += c;
                continue;
            }
            if (!line_.empty() && !seen_.insert(line_).second)
                ++repeats_;
            // A tool that names every entry it skips prints few repeats and many lines; past this
            // many different lines it is not looping on one.
            if (seen_.size() > 4096)
                seen_.clear();
            line_.clear();
        }
        return repeats_;
    }
    // Output written means the tool is getting somewhere.
    void progress() { repeats_ = 0; }

private:
    std::string line_;
    std::set<std::string> seen_;
    size_t repeats_ = 0;
};

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

void BoundedText::append(std::string_view chunk)
{
    const size_t room = errorKeep > head_.size() ? errorKeep - head_.size() : 0;
    head_.append(chunk.substr(0, room));
    chunk.remove_prefix(std::min(room, chunk.size()));
    if (chunk.empty())
        return;
    tail_.append(chunk);
    if (tail_.size() > 2 * errorKeep)
        tail_.erase(0, tail_.size() - errorKeep);
}

std::string BoundedText::take()
{
    std::string text = std::move(head_);
    if (!tail_.empty())
        text += "\n…\n" + tail_.substr(tail_.size() > errorKeep ? tail_.size() - errorKeep : 0);
    head_.clear();
    tail_.clear();
    return text;
}

void Watch::run(std::vector<Stream> streams)
{
    // The child's end, for a loop that stops with it; without a descriptor for it (an old
    // kernel) it is looked at each turn.
    FileSafety::Fd ended(untilEnd ? int(::syscall(SYS_pidfd_open, pid_, 0)) : -1);
    const int timeout = bounds_ ? watchMilliseconds : onTurn || untilEnd ? 200 : -1;
    const auto every = std::chrono::milliseconds(watchMilliseconds);
    auto look = std::chrono::steady_clock::now() + every;
    std::vector<pollfd> fds;
    char buffer[65536];
    bool gone = false;
    while (!streams.empty() && !gone) {
        fds.clear();
        for (const auto& stream : streams)
            fds.push_back({stream.fd, POLLIN, 0});
        if (ended)
            fds.push_back({ended.get(), POLLIN, 0});
        if (::poll(fds.data(), nfds_t(fds.size()), timeout) < 0 && errno != EINTR)
            break;
        // The memory is looked at on the watch's own beat, however often the child prints.
        if (const auto now = std::chrono::steady_clock::now(); bounds_ && !outgrown_ && now >= look) {
            look = now + every;
            if (bounds_->outgrown(pid_)) {
                outgrown_ = true;
                if (onOutgrown)
                    onOutgrown();
            }
        }
        if (onTurn)
            onTurn();
        for (size_t i = streams.size(); i-- > 0;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t count = ::read(streams[i].fd, buffer, sizeof buffer);
            if (count < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (count <= 0)
                streams.erase(streams.begin() + std::ptrdiff_t(i));
            else
                streams[i].sink(std::string_view(buffer, size_t(count)));
        }
        if (untilEnd) {
            siginfo_t info{};
            gone = ended ? fds.back().revents != 0
                         : ::waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
        }
    }
    // What the streams hold at the child's end is taken without waiting for the lingering.
    for (auto& stream : streams) {
        ::fcntl(stream.fd, F_SETFL, ::fcntl(stream.fd, F_GETFL) | O_NONBLOCK);
        for (ssize_t count; (count = ::read(stream.fd, buffer, sizeof buffer)) > 0;)
            stream.sink(std::string_view(buffer, size_t(count)));
    }
}

namespace {

// The pipes of a run: standard output (unless it goes to the command's descriptor) and standard
// error, the child's ends closed once it has started.
struct Pipes {
    explicit Pipes(const Command& command) : err(FileSafety::Pipe::make())
    {
        if (command.stdoutFd < 0)
            out = FileSafety::Pipe::make();
    }
    void started()
    {
        out.write.reset();
        err.write.reset();
    }
    FileSafety::Pipe out, err;
};

// Ends a run's child: a tool with helpers with all of them, any other with its own group.
struct Ender {
    pid_t pid;
    bool ownSession;
    bool helpers;
    void operator()(int signal) const
    {
        if (helpers)
            signalTool(pid, ownSession, signal);
        else
            signalChild(pid, signal);
    }
};

// Cancelling the task signals the child (a cancellable command only); the run notices through
// its pipes closing. Unhooked before the child is reaped: until then its pid is no one else's.
class CancelHook {
public:
    CancelHook(const Command& command, const Ender& end)
        : token_(command.cancellable ? Task::current().cancel : nullptr)
    {
        if (token_)
            handler_ = token_->onCancel([this, end, signal = command.killOnCancel ? SIGKILL : SIGTERM] {
                killed = true;
                end(signal);
            });
    }
    void unhook()
    {
        if (token_)
            token_->removeHandler(handler_);
        token_.reset();
    }
    ~CancelHook() { unhook(); }
    CancelHook(const CancelHook&) = delete;
    CancelHook& operator=(const CancelHook&) = delete;
    bool watched() const { return bool(token_); }
    std::atomic<bool> killed{false};

private:
    std::shared_ptr<Task::CancelToken> token_;
    int handler_ = 0;
};

// The limits a run looks at between reads: its time limit, helpers left behind by a tool that
// has exited, and a child that ignores the polite request to end.
class Limits {
public:
    Limits(const Command& command, const Ender& end, CancelHook& cancel, Result& result)
        : command_(command), end_(end), cancel_(cancel), result_(result),
          timeLimit_(command.timeLimit ? std::chrono::steady_clock::now() + *command.timeLimit : never)
    { }
    bool watched() const { return cancel_.watched() || command_.timeLimit || command_.ownGroup; }
    bool mainEnded() const { return mainEnded_; }
    void look()
    {
        const auto now = std::chrono::steady_clock::now();
        if (!cancel_.killed && !result_.timedOut && now > timeLimit_) {
            result_.timedOut = true;
            cancel_.killed = true;
            end_(SIGTERM);
        }
        // Helpers left behind by a tool that has exited would hold its pipes (and its files)
        // open for ever. Until the reap the group's id cannot be anyone else's.
        if (command_.ownGroup && !mainEnded_) {
            siginfo_t info{};
            if (::waitid(P_PID, id_t(end_.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == end_.pid) {
                mainEnded_ = true;
                end_(SIGKILL);
            }
        }
        if (cancel_.killed && killDeadline_ == never)
            killDeadline_ = now + std::chrono::seconds(2);
        if (cancel_.killed && now > killDeadline_)
            end_(SIGKILL);
    }

private:
    static constexpr auto never = std::chrono::steady_clock::time_point::max();
    const Command& command_;
    const Ender& end_;
    CancelHook& cancel_;
    Result& result_;
    std::chrono::steady_clock::time_point timeLimit_;
    std::chrono::steady_clock::time_point killDeadline_ = never;
    bool mainEnded_ = false;
};

// Where the child's output goes: the sinks, or the result within its bounds; a child that
// prints past them, or loops on its own complaints, is ended.
class Output {
public:
    Output(const Command& command, const Sink& onStdout, const Sink& onStderr, const Ender& end, Result& result)
        : command_(command), onStdout_(onStdout), onStderr_(onStderr), end_(end), result_(result)
    { }
    void out(std::string_view chunk)
    {
        repeats_.progress();
        if (onStdout_) {
            // A reader that gives up ends the tool: what it would still print is unwanted.
            if (sinkFailure)
                return;
            try {
                onStdout_(chunk);
            } catch (...) {
                sinkFailure = std::current_exception();
                end_(SIGKILL);
            }
        } else if (!result_.outputCut) {
            const size_t room = command_.outputLimit - std::min(command_.outputLimit, result_.out.size());
            result_.out.append(chunk.substr(0, room));
            if (chunk.size() > room) {
                result_.outputCut = true;
                end_(SIGKILL);
            }
        }
    }
    void err(std::string_view chunk)
    {
        if (command_.repeatLimit && !result_.looping && repeats_.add(chunk) >= *command_.repeatLimit) {
            result_.looping = true;
            end_(SIGKILL);
        }
        if (onStderr_) {
            onStderr_(chunk);
            lastWords_.append(chunk);
        } else {
            errors_.append(chunk);
        }
    }
    std::string errors() { return errors_.take(); }
    // What it printed to whoever took it, for the job's judge: an encoder that could not
    // allocate says so there.
    std::string lastWords() { return lastWords_.take(); }
    std::exception_ptr sinkFailure;

private:
    const Command& command_;
    const Sink& onStdout_;
    const Sink& onStderr_;
    const Ender& end_;
    Result& result_;
    BoundedText errors_;
    BoundedText lastWords_;
    RepeatCount repeats_;
};

// Reaps the child, its helpers ended first; its exit status or signal into the result.
void reap(pid_t pid, const Command& command, const Ender& end, Result& result)
{
    awaitEnd(pid);
    if (command.ownGroup)
        end(SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.exitCode = 128 + WTERMSIG(status);
    }
}

}

Result run(const Command& command, const Sink& onStdout, const Sink& onStderr)
{
    Pipes pipes(command);
    Launch launch;
    launch.out = command.stdoutFd >= 0 ? command.stdoutFd : pipes.out.write.get();
    launch.err = pipes.err.write.get();
    launch.ownSession = ownGroups;
    const pid_t pid = spawn(command, launch);
    pipes.started();

    const Ender end{pid, launch.ownSession, command.ownGroup};
    Result result;
    CancelHook cancel(command, end);
    Limits limits(command, end, cancel, result);
    Output output(command, onStdout, onStderr, end, result);
    // A tool started for a job in the process that keeps the job's files has its memory watched.
    const auto bounds = Task::current().bounds;
    Watch watch(pid, bounds.get());
    watch.onOutgrown = [&] {
        if (!limits.mainEnded())
            end(SIGKILL);
    };
    if (limits.watched())
        watch.onTurn = [&limits] { limits.look(); };
    std::vector<Watch::Stream> streams;
    if (pipes.out.read)
        streams.push_back({pipes.out.read.get(), [&output](std::string_view chunk) { output.out(chunk); }});
    streams.push_back({pipes.err.read.get(), [&output](std::string_view chunk) { output.err(chunk); }});
    watch.run(std::move(streams));

    result.err = output.errors();
    cancel.unhook();
    reap(pid, command, end, result);
    if (output.sinkFailure)
        std::rethrow_exception(output.sinkFailure);
    if (bounds) {
        auto judged = result;
        if (judged.err.empty())
            judged.err = output.lastWords();
        bounds->judge(judged, watch.outgrown());
    }
    if (cancel.killed && !result.timedOut)
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

EnvironmentChange::EnvironmentChange() { environmentMutex.lock(); }

EnvironmentChange::~EnvironmentChange() { environmentMutex.unlock(); }

Child::Child(const Command& command, bool ownErrors) : executable_(command.executable)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw std::system_error(errno, std::generic_category(), "socketpair");
    channel_.reset(ends[0]);
    FileSafety::Fd theirs(ends[1]);
    Launch launch;
    launch.in = theirs.get();
    launch.out = theirs.get();
    // It outlives the thread that started it (workers are started ahead, on any job's thread);
    // it notices the parent's end on its socket instead.
    launch.dieWithParent = false;
    FileSafety::Pipe errors;
    if (ownErrors) {
        errors = FileSafety::Pipe::make();
        ::fcntl(errors.read.get(), F_SETFL, O_NONBLOCK);
        launch.err = errors.write.get();
    }
    pid_ = spawn(command, launch);
    errors_ = std::move(errors.read);
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
