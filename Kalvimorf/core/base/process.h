#pragma once

// The one process core: every external tool is started by absolute path with an argument list,
// never through a shell; both pipes are drained together with poll() so neither can stall the
// child; a cancelled task can terminate the child.

#include "core/base/file_safety.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace Process {

inline constexpr size_t outputKeep = 256 * 1024 * 1024;

struct Command {
    std::string executable;  // absolute path
    std::vector<std::string> arguments;
    std::optional<std::filesystem::path> cwd;
    // Laid over the inherited environment; empty inherits it untouched.
    std::map<std::string, std::string> env;
    // When >= 0 the child's standard output goes straight to this descriptor.
    int stdoutFd = -1;
    // When true, cancelling the current task terminates the child (SIGTERM, then SIGKILL) and
    // run() throws CancellationError once it has been reaped.
    bool cancellable = false;
    // With cancellable: the child is killed at once instead, for a tool whose work a cancel
    // throws away (an encoder asked to finish would first flush what it holds, for seconds).
    bool killOnCancel = false;
    // The most address space the child may take, in bytes; past it its allocations fail. For
    // tools whose memory a hostile input decides (an unpacker fed a recursive archive).
    std::optional<unsigned long long> memoryLimit;
    // The most standard output kept in Result::out, in bytes. A child that prints more is ended
    // and the run reports outputCut: what a tool prints can be decided by its input (an entry
    // that unpacks to gigabytes), and the caller would hold all of it.
    size_t outputLimit = outputKeep;
    // The largest file the child may write, in bytes; past it the write fails and the child
    // dies of SIGXFSZ. For unpackers writing entries whose size the input decides.
    std::optional<unsigned long long> fileSizeLimit;
    // When set, a child that prints this many lines of standard error that repeat its earlier
    // ones word for word while it writes nothing to its output is taken as looping on its own
    // errors, as an unpacker can on a damaged archive: it is ended and the run reports looping.
    std::optional<size_t> repeatLimit;
    // A tool that forks helpers of its own (an office suite): the tool and its helpers are ended
    // together whenever the run ends, by time limit, by cancellation, or because the tool itself
    // exited and left helpers behind. Inside a worker they stay in the worker's group (so ending
    // the worker ends them), and the helpers are told apart as that group's other members.
    bool ownGroup = false;
    // When set, a run that lasts longer ends its group (SIGTERM, SIGKILL two seconds later) and
    // reports timedOut.
    std::optional<std::chrono::milliseconds> timeLimit;
};

struct Result {
    int exitCode = 0;  // the exit status, or 128 + signal number
    bool signaled = false;
    bool timedOut = false;
    std::string out;  // standard output, unless it went to stdoutFd or to onStdout
    // The child printed more than Command::outputLimit and was ended; out holds the first bytes.
    bool outputCut = false;
    bool looping = false;  // see Command::repeatLimit
    // Standard error, unless it went to onStderr: its first and last errorKeep bytes at most,
    // since a damaged input can make a tool print without end.
    std::string err;
};

inline constexpr size_t errorKeep = 16 * 1024;

// The head and the tail of a stream that may never end: its first errorKeep bytes and about its
// last errorKeep, with a line "…" between them when bytes were left out.
class BoundedText {
public:
    void append(std::string_view chunk);
    bool empty() const { return head_.empty(); }
    // What was kept, leaving this empty.
    std::string take();

private:
    std::string head_;
    std::string tail_;
};

using Sink = std::function<void(std::string_view)>;

// How often whoever waits for a job's processes looks at their memory.
inline constexpr int watchMilliseconds = 20;

// What a job lays around every process that works for it. core/jobs/job_process.h makes it, a
// task carries it (Task::Context::bounds), and every child started for that task enters it.
class Bounds {
public:
    virtual ~Bounds() = default;
    // Closes the calling process, and every process it starts from then on, inside the bounds.
    // Runs in a child between its start and exec, where only system calls may be made.
    virtual void enter() const noexcept = 0;
    // Whether `pid` and every process below it have outgrown the job's memory; asked every
    // watchMilliseconds by the loop that waits for them (Watch).
    virtual bool outgrown(int pid) const = 0;
    // How a watched run ended, for the job: throws the job's sentence when it outgrew its memory
    // or failed for want of memory, and returns for any other end, which its caller judges.
    virtual void judge(const Result& result, bool outgrown) const = 0;
};

// The one loop that waits for a started child: it drains the child's streams as they come, asks
// its bounds every watchMilliseconds whether it has outgrown them (and ends it then), and between
// reads lets the caller look at limits of its own. The tool runner and a worker's job (core/jobs)
// both wait in it.
class Watch {
public:
    struct Stream {
        int fd = -1;
        Sink sink;  // each chunk as it arrives
    };
    Watch(int pid, const Bounds* bounds) : pid_(pid), bounds_(bounds) { }
    // Called after each turn; a caller with one is woken at least every 200 ms.
    std::function<void()> onTurn;
    // Ends the child's tree once it has outgrown its bounds.
    std::function<void()> onOutgrown;
    // Stops as soon as the child itself has ended, taking what its streams still hold without
    // waiting, for a child whose own children may linger with the streams open. Otherwise the
    // loop runs until every stream has closed.
    bool untilEnd = false;
    void run(std::vector<Stream> streams);
    bool outgrown() const { return outgrown_; }

private:
    int pid_;
    const Bounds* bounds_;
    bool outgrown_ = false;
};

// Runs to completion. A launch failure throws std::system_error (not a ConversionError).
// The child reads nothing (standard input is /dev/null), has no terminal to prompt on, and dies
// with the thread that started it, so a tool never outlives a killed program.
// When a sink is given, that stream's bytes go to it as they arrive instead of into Result; a
// standard output sink that throws ends the child, and run() throws that once it is reaped.
Result run(const Command& command, const Sink& onStdout = {}, const Sink& onStderr = {});

// The last non-empty line of a tool's standard error; when there is none or the text is not
// UTF-8, "<tool> falhou." for a given executable, else empty.
std::string lastErrorLine(std::string_view stderrBytes, const std::string& executable = {});

// Every child started here is known until it is reaped, so that a process asked to end can end
// its children first: they run in process groups of their own, which no terminal signal reaches.
namespace Live {
// Sends `signal` to every running child and its process group.
void signalAll(int signal);
// From now on a child is killed as soon as it starts: the process is on its way out.
void refuseNew();
}

// Children normally lead process groups of their own. A worker turns that off, so that ending
// the worker's group also ends every tool it started.
void setOwnGroups(bool own);

// Held by code that changes this process's environment (setenv, unsetenv) once other threads
// may be running. A child reads the environment while it starts, and one that read it while
// another thread rewrote it failed to start ("Bad address") or started with a torn one.
class EnvironmentChange {
public:
    EnvironmentChange();
    ~EnvironmentChange();
    EnvironmentChange(const EnvironmentChange&) = delete;
    EnvironmentChange& operator=(const EnvironmentChange&) = delete;
};

// A child that runs beside the caller and talks over one socket, its standard input and output
// both. Its standard error is shared with this process, or with `ownErrors` a pipe of its own
// that the caller reads (errors()). It leads its own process group.
class Child {
public:
    // Throws std::system_error when it cannot start.
    explicit Child(const Command& command, bool ownErrors = false);
    // Kills and reaps a child still running.
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int pid() const { return pid_; }
    const std::string& executable() const { return executable_; }
    // This side of the socket; writes to it never raise SIGPIPE when sent with send().
    int channel() const { return channel_.get(); }
    // The reading end of its standard error, which never blocks; -1 unless it has its own.
    int errors() const { return errors_.get(); }
    // SIGKILL to the child's whole group, from any thread, until wait() has returned.
    void kill();
    // Waits for the end and reaps; the wait status. Once only.
    int wait();

private:
    int pid_ = -1;
    std::string executable_;
    bool reaped_ = false;
    FileSafety::Fd channel_;
    FileSafety::Fd errors_;
};

}
