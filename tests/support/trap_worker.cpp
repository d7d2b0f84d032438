// The tests' own worker: the worker program with the faults the tests of isolation make it show,
// as libraries do on some damaged files. It is built for the tests only and never installed; a
// test names it to the program in BRIVLON_WORKER, and the environment variables below spring it.
// Everything here stays out of the program: the faults wrap the performer the program installs,
// and the missing Landlock is the kernel's own answer, so the installed worker has no hook to ask.
//   BRIVLON_WORKER_ABORT_ON  a source of this file name crashes the job's process, leaving the
//                            C library's last words on standard error as a corrupted heap does;
//   BRIVLON_WORKER_GROW_ON   one of this name allocates without end, as a decoder looping on a
//                            damaged file does;
//   BRIVLON_WORKER_SPIN_ON   one of this name hangs;
//   BRIVLON_WORKER_NO_FILE_FENCE jobs run as on a kernel without Landlock, with the readers'
//                            own rules alone;
//   BRIVLON_WORKER_IDLE_NOISE the worker, waiting for its first request, prints many times what a
//                            pipe holds on standard error (a library's warnings, a thread still
//                            ending) and then creates the file it names: until someone reads the
//                            pipe the worker is stuck in the middle, and the file never comes.

#include "core/jobs/worker_serve.h"
#include "documents/perform.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool names(const Request& request, const char* variable)
{
    const char* name = std::getenv(variable);
    for (const auto& source : request.sources)
        if (name && source.filename() == name)
            return true;
    return false;
}

// The program's own performer, after the fault the request's file names. It runs where the
// program's does: in the job's process, inside its bounds.
class Faulty : public Worker::Performer {
public:
    explicit Faulty(std::shared_ptr<Worker::Performer> real) : real_(std::move(real)) { }

    fs::path perform(const Request& request, const Progress& progress) override
    {
        if (names(request, "BRIVLON_WORKER_ABORT_ON")) {
            std::fputs("free(): invalid next size (normal)\n", stderr);
            std::abort();
        }
        if (names(request, "BRIVLON_WORKER_GROW_ON"))
            for (std::vector<std::unique_ptr<char[]>> held;;) {
                held.emplace_back(new char[64 << 20]);
                *static_cast<volatile char*>(held.back().get()) = 1;
            }
        if (names(request, "BRIVLON_WORKER_SPIN_ON"))
            for (volatile bool forever = true; forever;) { }
        return real_->perform(request, progress);
    }

private:
    std::shared_ptr<Worker::Performer> real_;
};

// Landlock's first call answers "no such call", as on a kernel built without it; the filter
// passes to every process this one starts, the job's and the suite's among them.
bool hideLandlock()
{
#if defined(__x86_64__)
    constexpr unsigned arch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr unsigned arch = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
    constexpr unsigned createRuleset = 444;
    static sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, arch, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, createRuleset, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    static sock_fprog filter{sizeof program / sizeof program[0], program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

// Runs beside the serving loop, which sends its ready meanwhile and then waits for its first
// request. Plain writes, no stdio or allocation: the loop forks while these may still be blocked.
void printWhileIdle(const char* done)
{
    std::thread([done, filler = std::string(160, '~')] {
        char line[256];
        for (int number = 0; number < 2000; ++number) {
            const int length = std::snprintf(line, sizeof line, "(worker:%d): GLib-WARNING **: ocioso %04d %s\n",
                int(::getpid()), number, filler.c_str());
            for (int written = 0; written < length;) {
                const ssize_t wrote = ::write(STDERR_FILENO, line + written, size_t(length - written));
                if (wrote < 0 && errno != EINTR)
                    return;
                written += wrote > 0 ? int(wrote) : 0;
            }
        }
        const int made = ::open(done, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (made >= 0)
            ::close(made);
    }).detach();
}

}

int main(int argc, char** argv)
{
    if (std::getenv("BRIVLON_WORKER_NO_FILE_FENCE") && !hideLandlock()) {
        std::fputs("trap worker: Landlock could not be hidden\n", stderr);
        return 1;
    }
    performInWorkers();
    Worker::Performer::set(std::make_shared<Faulty>(Worker::Performer::shared()));
    if (const char* done = std::getenv("BRIVLON_WORKER_IDLE_NOISE"))
        printWhileIdle(done);
    Worker::serve(Worker::modulesToWarm(argc, argv));
}
