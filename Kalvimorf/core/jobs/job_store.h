#pragma once

#include "core/jobs/job.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <string>
#include <vector>

// The one list of jobs, oldest first, and the one place where the program reacts to their
// outcome (sounds, the error log, the burst, revealing the output): finish() for a job that ran,
// report() for one that is built finished. Main thread only, which every mutator checks: work
// running elsewhere hops here first. Every change is published as the whole new list.
class JobStore : public QObject {
    Q_OBJECT
public:
    static JobStore& shared();
    JobStore() = default;

    const std::vector<Job>& jobs() const { return jobs_; }
    // Replaces the whole list (other parts append finished jobs they build themselves).
    void setJobs(std::vector<Job> jobs);
    void append(Job job);
    // Appends a job built finished (a file action's outcome) and reacts to it as finish() does.
    void report(Job job);

    // Calls `receiver` at once with the current list and then with every new list, for as long
    // as `context` lives.
    QMetaObject::Connection subscribe(QObject* context, std::function<void(const std::vector<Job>&)> receiver);

    // A new running job, not started yet.
    QUuid add(const std::string& source, const std::string& target);
    // The action that stops the job's work; kept until the job completes or is cancelled.
    void setCanceler(const QUuid& id, std::function<void()> cancel);
    void markStarted(const QUuid& id);
    // Stored as given, unclamped.
    void setProgress(const QUuid& id, double value);
    void finish(const QUuid& id, Job::State state);
    // The same for a job whose row says something else once it has ended ("Movido: …").
    void finish(const QUuid& id, Job::State state, std::string headline);
    void cancel(const QUuid& id);
    void cancelAll();
    // Removes every job that is not running, keeping the order of the others.
    void clearFinished();

Q_SIGNALS:
    void jobsChanged(const std::vector<Job>& jobs);

private:
    Job* find(const QUuid& id);
    void publish();
    // Sound, error log, burst and reveal for a job that has just ended; `logged` names it in
    // the error log.
    void react(const Job& job, const std::string& logged);
    // Ends the process when called off the main thread: the list is not guarded.
    void requireMainThread() const;

    std::vector<Job> jobs_;
    QHash<QUuid, std::function<void()>> cancelers_;
};
