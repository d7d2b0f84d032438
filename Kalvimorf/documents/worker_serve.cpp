#include "documents/worker_serve.h"
#include "core/state/office_events.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/job_boundary.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/engines/engine_modules.h"
#include "core/jobs/worker_pool.h"
#include "documents/perform.h"

#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// The worker's side of the protocol, the one place that runs the engines: only the worker program
// and the tests' probes link it, so that no other process of the program loads an imaging, PDF or
// media library.
namespace Worker {

namespace {

int channel = -1;
std::mutex sending;

void send(const Answer& answer)
{
    std::lock_guard lock(sending);
    // A parent that has gone is noticed by the watcher below.
    if (!Worker::send(channel, answer))
        ::_exit(1);
}

// The parent made TMPDIR for this worker alone and removes it once it has reaped the worker; a
// parent that has gone cannot, so a worker left alone ends its tools and removes it itself.
void removeOwnFolder()
{
    const char* folder = std::getenv("TMPDIR");
    if (folder && fs::path(folder).filename().string().starts_with("kalvimorf-"))
        FileSafety::removeTree(folder);
}

[[noreturn]] void abandoned()
{
    Process::Live::signalAll(SIGKILL);
    removeOwnFolder();
    // The worker leads its own process group: that ends whatever a tool started in turn.
    if (::getpgrp() == ::getpid())
        ::kill(0, SIGKILL);
    ::_exit(1);
}

// The parent sends nothing while a request runs, so only its hang-up wakes the watcher; then the
// work, and every tool it runs, has no one to report to. The watcher is a process of its own
// rather than a thread: a process with one thread keeps the C and C++ libraries' single-threaded
// paths (memory and shared pointers without atomic operations), which saves about a tenth of a
// qpdf job. Forked before any other thread exists, it may do anything.
void watchForHangUp()
{
    const pid_t worker = ::getpid();
    const bool leader = ::getpgrp() == worker;
    if (::fork() != 0)
        return;
    // Out of the worker's group, so that ending that group spares it until its work is done;
    // and gone with the worker, whatever ends it.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != worker)
        ::_exit(0);
    ::close(channel);
    pollfd hangUp{STDIN_FILENO, POLLRDHUP, 0};
    while (::poll(&hangUp, 1, -1) < 0 && errno == EINTR) { }
    ::prctl(PR_SET_PDEATHSIG, 0);
    // The worker's tools are in its group when it leads one, else they die with it.
    ::kill(leader ? -worker : worker, SIGKILL);
    // Reparented once the worker has gone; only then can nothing more be written to its folder.
    while (::getppid() == worker)
        ::usleep(1000);
    removeOwnFolder();
    ::_exit(1);
}

// Another hook for the tests, unset in use: with BRIVLON_WORKER_IDLE_NOISE set, a worker waiting
// for its first request prints many times what a pipe holds on standard error, as a library's
// warnings or a thread still ending can while no job runs, and then creates the file it names.
// Until someone reads the pipe the worker is stuck in the middle, and the file never comes.
void makeIdleNoise()
{
    const char* done = std::getenv("BRIVLON_WORKER_IDLE_NOISE");
    if (!done)
        return;
    const std::string filler(160, '~');
    for (int line = 0; line < 2000; ++line)
        std::fprintf(stderr, "(worker:%d): GLib-WARNING **: ocioso %04d %s\n", int(::getpid()), line, filler.c_str());
    const int made = ::open(done, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (made >= 0)
        ::close(made);
}

// The office route's events travel to the parent as answers of their own.
class RelayedOfficeEvents : public OfficeEvents {
public:
    void simpleMode(const std::string& message) override { send({Answer::Kind::notice, 0, {}, message}); }
    void componentWanted() override { send({Answer::Kind::component, 0, {}, {}}); }
};

// So that the parent can remove what a kill leaves beside the outputs.
class RelayedHiddenNames : public FileSafety::HiddenNames {
public:
    void made(const fs::path& path) override { send({Answer::Kind::staged, 0, path, {}}); }
};

Answer answer(const Request& request)
{
    const Progress progress = [](double value) {
        send({Answer::Kind::progress, value, {}, {}});
    };
    return answerFor([&] {
        return perform(request, progress);
    });
}

// A job whose processes outgrew their memory: its answer, then the end of this worker's whole
// group, the job's processes and their helpers with it. The libraries' heaps are in whatever
// state they were left in, and the parent starts a fresh worker for the next job.
[[noreturn]] void outgrown()
{
    send({Answer::Kind::failed, 0, {}, ErrorCauses::tooMuchMemory});
    ::kill(0, SIGKILL);
    ::_exit(1);
}

// Passes on what the job's process prints, keeping its last words, until it has ended; its wait
// status. Its tools die with it, but one that lingers cannot hold the worker: the process's end
// is watched beside the pipe. Meanwhile the memory of the job's processes is watched.
int relayUntilEnd(pid_t job, const JobBoundary::Fence& fence, int errors, Process::BoundedText& kept)
{
    const int ended = int(::syscall(SYS_pidfd_open, job, 0));
    char buffer[4096];
    bool open = true, gone = false;
    const auto every = std::chrono::milliseconds(JobBoundary::watchMilliseconds);
    auto look = std::chrono::steady_clock::now() + every;
    while (open && !gone) {
        pollfd watched[2] = {{errors, POLLIN, 0}, {ended, POLLIN, 0}};
        if (::poll(watched, ended >= 0 ? 2 : 1, JobBoundary::watchMilliseconds) < 0 && errno != EINTR)
            break;
        if (const auto now = std::chrono::steady_clock::now(); now >= look) {
            if (fence.overLimit(job))
                outgrown();
            look = now + every;
        }
        if (watched[0].revents) {
            const ssize_t count = ::read(errors, buffer, sizeof buffer);
            if (count > 0) {
                [[maybe_unused]] auto written = ::write(STDERR_FILENO, buffer, size_t(count));
                kept.append(std::string_view(buffer, size_t(count)));
            } else if (count == 0 || errno != EINTR) {
                open = false;
            }
        }
        siginfo_t info{};
        // Without a descriptor for the process's end (an old kernel), it is looked at each turn.
        gone = (ended >= 0 && watched[1].revents)
            || (ended < 0 && ::waitid(P_PID, id_t(job), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == job);
    }
    if (ended >= 0)
        ::close(ended);
    int status = 0;
    while (::waitpid(job, &status, 0) < 0 && errno == EINTR) { }
    ::fcntl(errors, F_SETFL, O_NONBLOCK);
    for (ssize_t count; (count = ::read(errors, buffer, sizeof buffer)) > 0;) {
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, buffer, size_t(count));
        kept.append(std::string_view(buffer, size_t(count)));
    }
    return status;
}

// Each job runs in a process forked for it from this one, which stays as it was while it waited
// (its modules open, nothing of a job's left in its heaps) for the next job. The job's process
// closes itself inside the job's bounds before it reads a byte of a source: they are the
// kernel's, so they hold for every library and every tool it starts, and they end with it.
void runJob(const Request& request)
{
    // The job's modules are opened here, for this job and every later one of this worker.
    for (const auto module : Requests::modules(request)) {
        try {
            EngineModules::warm(module);
        } catch (const std::exception&) {
        }
    }
    const auto fence = Requests::fence(request);
    auto errors = FileSafety::Pipe::make();
    std::fflush(nullptr);
    const pid_t job = ::fork();
    if (job == 0) {
        // The socket is the job's to answer on, never to read: a drawing naming standard input
        // would wait on it for ever.
        const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(errors.write.get(), STDERR_FILENO);
        ::dup2(errors.write.get(), STDOUT_FILENO);
        fence->enter();
        springTraps(request);
        send(answer(request));
        std::fflush(nullptr);
        ::_exit(0);
    }
    errors.write.reset();
    if (job < 0) {
        send({Answer::Kind::failed, 0, {}, WorkerPool::crashed()});
        return;
    }
    Process::BoundedText kept;
    const int status = relayUntilEnd(job, *fence, errors.read.get(), kept);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return;
    // It ended without its answer: its own out-of-memory status, or its libraries' last words
    // about an allocation that failed, tell a job that outgrew its memory from a crash.
    const bool memory = (WIFEXITED(status) && WEXITSTATUS(status) == JobBoundary::outOfMemoryStatus)
        || JobBoundary::soundsOutOfMemory(kept.take());
    send({Answer::Kind::failed, 0, {}, memory ? ErrorCauses::tooMuchMemory : WorkerPool::crashed()});
}

}

void serve(const std::vector<EngineModules::Module>& warm)
{
    // The protocol keeps standard output to itself; a library's stray prints go to standard error.
    channel = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    // Qt's image readers warn about the files they fail on ("Invalid JPEG file structure"); the
    // job's own sentence already says what happened, in the user's language.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    });
    // Tools stay in this worker's process group, so that ending the group ends them too.
    Process::setOwnGroups(false);
    watchForHangUp();
    // Opening a module and starting the image library take milliseconds; a worker kept ready
    // does it while it waits for its request. The image library's start sets and restores an
    // environment variable, and the C library's environment is not safe to read while another
    // thread writes it (a job's first getenv, or a tool it starts, met a table being moved): a
    // request waits for the warming to end. A module that fails to open fails its job instead.
    std::thread starter;
    if (!warm.empty())
        starter = std::thread([warm] {
            for (const auto module : warm) {
                try {
                    EngineModules::warm(module);
                } catch (const std::exception&) {
                }
            }
        });
    OfficeEvents::set(std::make_shared<RelayedOfficeEvents>());
    FileSafety::HiddenNames::set(std::make_shared<RelayedHiddenNames>());
    send({});
    makeIdleNoise();

    QByteArray pending;
    for (;;) {
        const auto bytes = readFrame(STDIN_FILENO, pending);
        if (!bytes)
            abandoned();
        if (starter.joinable())
            starter.join();
        const auto request = Requests::unpack(*bytes);
        if (!request) {
            send({Answer::Kind::failed, 0, {}, ConversionError::unsupported().what()});
            continue;
        }
        runJob(*request);
    }
}

std::vector<EngineModules::Module> modulesToWarm(int argc, char** argv)
{
    std::vector<EngineModules::Module> modules;
    for (int i = 2; i < argc; ++i)
        if (const auto module = EngineModules::parse(argv[i]))
            modules.push_back(*module);
    return modules;
}

}
