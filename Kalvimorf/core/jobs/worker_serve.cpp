#include "core/jobs/worker_serve.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"
#include "core/base/file_safety.h"
#include "core/base/job_notes.h"
#include "core/base/process.h"
#include "core/base/task.h"
#include "core/engines/engine_modules.h"
#include "core/jobs/job_process.h"
#include "core/jobs/worker_pool.h"
#include "core/state/office_events.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
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
#include <thread>
#include <unistd.h>
#include <vector>

// The worker's side of the protocol, the one place that runs the engines (through Performer): only
// the worker program and the tests' probes call it, so that no other process of the program loads
// an imaging, PDF or media library.
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

// The office route's events travel to the parent as answers of their own.
class RelayedOfficeEvents : public OfficeEvents {
public:
    void simpleMode(const std::string& message) override { send({Answer::Kind::notice, 0, {}, message}); }
    void componentWanted() override { send({Answer::Kind::component, 0, {}, {}}); }
};

class RelayedNotes : public JobNotes {
public:
    void note(const fs::path& about, const std::string& sentence) override
    {
        send({Answer::Kind::note, 0, about, sentence});
    }
};

// So that the parent can remove what a kill leaves beside the outputs.
class RelayedHiddenNames : public FileSafety::HiddenNames {
public:
    void made(const fs::path& path) override { send({Answer::Kind::staged, 0, path, {}}); }
};

// A tool's word that it goes on, passed to the parent at most four times a second: its hang rule
// needs far less, and a tool may report every frame.
class RelayedPulse : public WorkPulse {
public:
    void beat() override
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        auto last = last_.load();
        if (now - last < std::chrono::steady_clock::duration(std::chrono::milliseconds(250)).count()
            || !last_.compare_exchange_strong(last, now))
            return;
        send({Answer::Kind::working, 0, {}, {}});
    }

private:
    std::atomic<std::chrono::steady_clock::rep> last_{0};
};

Answer answer(const Request& request)
{
    const Progress progress = [](double value) {
        send({Answer::Kind::progress, value, {}, {}});
    };
    return answerFor([&] {
        const auto performer = Performer::shared();
        if (!performer)
            throw ConversionError::unsupported();
        return performer->perform(request, progress);
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

// Each job runs in a process forked for it from this one (JobProcess::run), which stays as it was
// while it waited (its modules open, nothing of a job's left in its heaps) for the next job. The
// job's process closes itself inside the job's bounds before it reads a byte of a source: they
// are the kernel's, so they hold for every library and every tool it starts, and they end with it.
void runJob(const Request& request)
{
    // The job's modules are opened here, for this job and every later one of this worker.
    for (const auto module : Requests::modules(request)) {
        try {
            EngineModules::warm(module);
        } catch (const std::exception&) {
        }
    }
    const auto end = JobProcess::run(*JobProcess::of(request), [&] { send(answer(request)); }, outgrown);
    switch (end) {
    case JobProcess::End::well: return;
    // It ended without its answer: out of memory, or a crash.
    case JobProcess::End::outgrown:
    case JobProcess::End::outOfMemory: send({Answer::Kind::failed, 0, {}, ErrorCauses::tooMuchMemory}); return;
    case JobProcess::End::failed: send({Answer::Kind::failed, 0, {}, WorkerPool::crashed()}); return;
    }
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
    JobNotes::set(std::make_shared<RelayedNotes>());
    WorkPulse::set(std::make_shared<RelayedPulse>());
    send({});

    QByteArray pending;
    for (;;) {
        const auto bytes = readFrame(STDIN_FILENO, pending);
        if (!bytes)
            abandoned();
        if (starter.joinable())
            starter.join();
        const auto request = Requests::unpack(*bytes);
        if (!request)
            send({Answer::Kind::failed, 0, {}, ConversionError::unsupported().what()});
        else
            runJob(*request);
        // The job's process answers on the channel itself, while what it printed comes through
        // this process: ready follows the last of it, so that the parent, which waits for it,
        // logs a job's warnings with that job and never loses them to a worker ended too soon.
        send({});
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
