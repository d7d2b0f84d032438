#include "core/jobs/job_store.h"

#include "core/base/error_log.h"
#include "core/base/settings.h"
#include "core/state/chime.h"
#include "core/state/file_viewer.h"
#include "core/state/magic_burst.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <system_error>

JobStore& JobStore::shared()
{
    static JobStore* store = new JobStore;
    return *store;
}

void JobStore::requireMainThread() const
{
    auto* app = QCoreApplication::instance();
    if (QThread::currentThread() != (app ? app->thread() : thread()))
        qFatal("The job list was changed off the main thread.");
}

void JobStore::setJobs(std::vector<Job> jobs)
{
    requireMainThread();
    jobs_ = std::move(jobs);
    publish();
}

void JobStore::append(Job job)
{
    requireMainThread();
    jobs_.push_back(std::move(job));
    publish();
}

void JobStore::report(Job job)
{
    append(job);
    react(job, job.sourceName);
}

QMetaObject::Connection JobStore::subscribe(QObject* context, std::function<void(const std::vector<Job>&)> receiver)
{
    requireMainThread();
    receiver(jobs_);
    return connect(this, &JobStore::jobsChanged, context, std::move(receiver));
}

Job* JobStore::find(const QUuid& id)
{
    auto it = std::find_if(jobs_.begin(), jobs_.end(), [&](const Job& job) {
        return job.id == id;
    });
    return it == jobs_.end() ? nullptr : &*it;
}

void JobStore::publish() { Q_EMIT jobsChanged(jobs_); }

QUuid JobStore::add(const std::string& source, const std::string& target)
{
    requireMainThread();
    Job job;
    job.sourceName = source;
    job.target = target;
    const QUuid id = job.id;
    jobs_.push_back(std::move(job));
    publish();
    MagicBurst::noteJobAdded();
    return id;
}

void JobStore::setCanceler(const QUuid& id, std::function<void()> cancel)
{
    requireMainThread();
    cancelers_.insert(id, std::move(cancel));
}

// Reports from work arrive queued; one that lands after its job ended (or was cancelled) must
// not change it, since an ended job is never touched again.
void JobStore::markStarted(const QUuid& id)
{
    requireMainThread();
    auto* job = find(id);
    if (!job || !job->isRunning())
        return;
    job->started = true;
    publish();
}

void JobStore::setProgress(const QUuid& id, double value)
{
    requireMainThread();
    auto* job = find(id);
    if (!job || !job->isRunning())
        return;
    job->progress = value;
    publish();
}

void JobStore::cancel(const QUuid& id)
{
    requireMainThread();
    auto* job = find(id);
    if (!job || !job->isRunning())
        return;
    // Taken out before it runs: the action only asks the work to stop.
    auto action = cancelers_.take(id);
    if (action)
        action();
    job = find(id);
    if (!job)
        return;
    job->state = Job::State::cancelled();
    publish();
    MagicBurst::reset();
}

void JobStore::cancelAll()
{
    requireMainThread();
    std::vector<QUuid> ids;
    for (const auto& job : jobs_)
        if (job.isRunning())
            ids.push_back(job.id);
    for (const auto& id : ids)
        cancel(id);
}

void JobStore::clearFinished()
{
    requireMainThread();
    std::erase_if(jobs_, [](const Job& job) {
        return !job.isRunning();
    });
    publish();
}

void JobStore::finish(const QUuid& id, Job::State state) { finish(id, std::move(state), {}); }

void JobStore::finish(const QUuid& id, Job::State state, std::string headline)
{
    requireMainThread();
    cancelers_.remove(id);
    auto* job = find(id);
    if (!job)
        return;
    if (job->state.is(Job::State::Kind::cancelled)) {
        // Work that completed after the user cancelled it: its output must not stay behind.
        if (state.is(Job::State::Kind::done) && state.url) {
            std::error_code ignored;
            std::filesystem::remove_all(*state.url, ignored);
        }
        return;
    }
    job->state = std::move(state);
    job->progress = 1.0;
    // A renamed row is logged as a reported one: by its headline alone.
    const auto logged = headline.empty()
        ? job->sourceName + " → " + (job->target.empty() ? std::string("?") : job->target)
        : headline;
    if (!headline.empty())
        job->sourceName = std::move(headline);
    const Job ended = *job;
    publish();
    react(ended, logged);
}

void JobStore::react(const Job& job, const std::string& logged)
{
    const auto& state = job.state;
    switch (state.kind) {
    case Job::State::Kind::failed:
        MagicBurst::reset();
        Chime::play(Chime::Kind::failure, false);
        ErrorLog::add(logged + ": " + state.message);
        break;
    case Job::State::Kind::done: {
        const bool othersRunning = std::any_of(jobs_.begin(), jobs_.end(), [](const Job& j) {
            return j.isRunning();
        });
        if (!othersRunning && !MagicBurst::celebrate())
            Chime::play(Chime::Kind::success, false);
        break;
    }
    case Job::State::Kind::info:
    case Job::State::Kind::running:
    case Job::State::Kind::cancelled: break;
    }

    if (state.is(Job::State::Kind::done) && state.url && Defaults::flag(SettingKey::revealWhenDone)) {
        if (auto viewer = FileViewer::shared())
            viewer->reveal(*state.url);
    }
}
