#include "core/base/task.h"

#include "core/base/conversion_error.h"
#include "core/base/quality.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <thread>

namespace Task {

void CancelToken::cancel()
{
    // Handlers run under the lock, so once removeHandler() has returned, its handler neither
    // runs nor is running: a handler may refer to its owner's stack and to a child's pid.
    std::lock_guard lock(mutex_);
    if (cancelled_.exchange(true))
        return;
    for (auto& [id, handler] : handlers_)
        handler();
}

void CancelToken::check() const
{
    if (isCancelled())
        throw CancellationError();
}

int CancelToken::onCancel(std::function<void()> handler)
{
    {
        std::lock_guard lock(mutex_);
        if (!cancelled_.load()) {
            int id = nextId_++;
            handlers_.emplace_back(id, std::move(handler));
            return id;
        }
    }
    handler();
    return 0;
}

void CancelToken::removeHandler(int id)
{
    std::lock_guard lock(mutex_);
    std::erase_if(handlers_, [id](const auto& entry) {
        return entry.first == id;
    });
}

namespace {
const Context emptyContext;
thread_local const Context* bound = nullptr;
}

const Context& current() { return bound ? *bound : emptyContext; }

Binder::Binder(Context context) : previous_(bound), context_(std::move(context)) { bound = &context_; }

Binder::~Binder() { bound = previous_; }

Context newJob(std::optional<std::filesystem::path> overrideDir, std::optional<QualityLevel> qualityOverride)
{
    Context context;
    context.overrideDir = std::move(overrideDir);
    context.qualityOverride = qualityOverride;
    context.cancel = std::make_shared<CancelToken>();
    return context;
}

Context with(Context base, std::optional<std::filesystem::path> overrideDir)
{
    base.overrideDir = std::move(overrideDir);
    return base;
}

Context withQuality(Context base, std::optional<QualityLevel> level)
{
    base.qualityOverride = level;
    return base;
}

bool isCancelled()
{
    const auto& token = current().cancel;
    return token && token->isCancelled();
}

void checkCancelled()
{
    if (isCancelled())
        throw CancellationError();
}

namespace {

// Never destroyed: a thread that outlives the wait still counts itself out.
struct Running {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

Running& running()
{
    static auto* threads = new Running;
    return *threads;
}

}

void detach(Context context, std::function<void()> work)
{
    auto& threads = running();
    {
        std::lock_guard lock(threads.mutex);
        ++threads.count;
    }
    std::thread([context = std::move(context), work = std::move(work)]() mutable {
        {
            // Moved in here so that the work's captures and the context are gone before the
            // thread counts itself out.
            auto body = std::move(work);
            Binder binder(std::move(context));
            body();
        }
        auto& threads = running();
        std::lock_guard lock(threads.mutex);
        --threads.count;
        threads.ended.notify_all();
    }).detach();
}

bool awaitDetached(std::chrono::milliseconds limit)
{
    auto& threads = running();
    std::unique_lock lock(threads.mutex);
    return threads.ended.wait_for(lock, limit, [&] {
        return threads.count == 0;
    });
}

}

namespace MainThread {

bool isCurrent()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void post(std::function<void()> work)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [context = Task::current(), work = std::move(work)] {
            Task::Binder binder(context);
            work();
        },
        Qt::QueuedConnection);
}

}
