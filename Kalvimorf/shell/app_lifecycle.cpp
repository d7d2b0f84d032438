#include "shell/app_lifecycle.h"

#include "core/base/process.h"
#include "core/base/task.h"
#include "core/jobs/job_store.h"
#include "core/jobs/worker_pool.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace AppLifecycle {

namespace {

// The write end of the pipe that carries a signal to the event loop; a handler may do little
// more than write().
int signalPipe = -1;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(signalPipe, &byte, 1);
    errno = saved;
}

// Threads still working would use static objects while they are being destroyed: the process
// leaves without running their destructors.
void leaveWhenStuck(bool ended)
{
    if (ended)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
}

}

bool stopWork(std::chrono::milliseconds limit)
{
    using namespace std::chrono_literals;
    Process::Live::refuseNew();
    // Each job's cancel kills its worker's group, stops a copy and terminates its ffmpeg.
    JobStore::shared().cancelAll();
    // Tools that run to their end even for a cancelled job (archivers) are ended too.
    Process::Live::signalAll(SIGTERM);
    const auto polite = limit > 500ms ? limit - 500ms : limit / 2;
    bool ended = Task::awaitDetached(polite);
    if (!ended) {
        Process::Live::signalAll(SIGKILL);
        ended = Task::awaitDetached(limit - polite);
    }
    // The workers kept waiting for the next job, with their temporary folders.
    WorkerPool::shared()->release();
    return ended;
}

void quit()
{
    static bool quitting = false;
    if (quitting)
        return;
    quitting = true;
    leaveWhenStuck(stopWork());
    QCoreApplication::exit(0);
}

void install()
{
    auto* app = QCoreApplication::instance();
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        signalPipe = ends[1];
        struct sigaction action { };
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(signal, &action, nullptr);
        auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, app);
        QObject::connect(notifier, &QSocketNotifier::activated, app, [fd = ends[0]] {
            char bytes[64];
            while (::read(fd, bytes, sizeof bytes) > 0) { }
            quit();
        });
    }
    // A quit that did not come through quit() (Qt's own, the last window with quitting on).
    QObject::connect(app, &QCoreApplication::aboutToQuit, [] {
        leaveWhenStuck(stopWork());
    });
#ifndef QT_NO_SESSIONMANAGER
    // The session is ending: the display goes next, and Qt leaves at once without it.
    if (auto* gui = qobject_cast<QGuiApplication*>(app))
        QObject::connect(gui, &QGuiApplication::commitDataRequest, [](QSessionManager&) {
            quit();
        });
#endif
}

}
