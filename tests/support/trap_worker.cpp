// The tests' own worker: the worker program with the faults the tests of isolation make it show,
// as libraries do on some damaged files. It is built for the tests only and never installed; a
// test names it to the program in BRIVLON_WORKER, and the environment variables below spring it.
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

#include "core/jobs/job_boundary.h"
#include "core/jobs/worker_serve.h"
#include "documents/perform.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class Traps : public Worker::Traps {
public:
    void idle() override
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

    void job(const Request& request) override
    {
        const auto named = [&request](const char* variable) {
            const char* name = std::getenv(variable);
            for (const auto& source : request.sources)
                if (name && source.filename() == name)
                    return true;
            return false;
        };
        if (named("BRIVLON_WORKER_ABORT_ON")) {
            std::fputs("free(): invalid next size (normal)\n", stderr);
            std::abort();
        }
        if (named("BRIVLON_WORKER_GROW_ON"))
            for (std::vector<std::unique_ptr<char[]>> held;;) {
                held.emplace_back(new char[64 << 20]);
                *static_cast<volatile char*>(held.back().get()) = 1;
            }
        if (named("BRIVLON_WORKER_SPIN_ON"))
            for (volatile bool forever = true; forever;) { }
    }
};

}

int main(int argc, char** argv)
{
    performInWorkers();
    if (std::getenv("BRIVLON_WORKER_NO_FILE_FENCE"))
        JobBoundary::leaveFilesUnfenced();
    Worker::Traps::set(std::make_shared<Traps>());
    Worker::serve(Worker::modulesToWarm(argc, argv));
}
