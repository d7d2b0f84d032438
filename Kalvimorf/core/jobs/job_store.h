#pragma once

#include "core/jobs/job.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <vector>

// The one list of jobs, oldest first, and where the program reacts to their outcome (sounds,
// the error log, the burst, revealing the output). Main thread only: work running elsewhere hops
// here first. Every change is published as the whole new list.
class JobStore : public QObject {
    Q_OBJECT
public:
    static JobStore& shared();
    JobStore() = default;

    const std::vector<Job>& jobs() const { return jobs_; }
    // Replaces the whole list (other parts append finished jobs they build themselves).
    void setJobs(std::vector<Job> jobs);
    void append(Job job);

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
    void cancel(const QUuid& id);
    void cancelAll();
    // Removes every job that is not running, keeping the order of the others.
    void clearFinished();

Q_SIGNALS:
    void jobsChanged(const std::vector<Job>& jobs);

private:
    Job* find(const QUuid& id);
    void publish();

    std::vector<Job> jobs_;
    QHash<QUuid, std::function<void()>> cancelers_;
};
