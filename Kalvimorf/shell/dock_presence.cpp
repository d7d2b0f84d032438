#include "shell/dock_presence.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

#include <algorithm>

DockPresence::DockPresence(std::function<void(int)> badge) : badge_(std::move(badge)) { }

bool DockPresence::wanted(bool titledWindowShown, const std::vector<Job>& jobs)
{
    return titledWindowShown || running(jobs) > 0;
}

int DockPresence::running(const std::vector<Job>& jobs)
{
    return int(std::count_if(jobs.begin(), jobs.end(), [](const Job& job) {
        return job.isRunning();
    }));
}

void DockPresence::setBadge(int count)
{
    // Progress ticks republish the list many times a second; the docks hear only of changes.
    if (lastBadge_ == count)
        return;
    lastBadge_ = count;
    if (badge_)
        badge_(count);
}

void DockPresence::jobsChanged(const std::vector<Job>& jobs, bool titledWindowShown)
{
    setBadge(running(jobs));
    update(titledWindowShown, jobs);
}

void DockPresence::update(bool titledWindowShown, const std::vector<Job>& jobs)
{
    const bool want = wanted(titledWindowShown, jobs);
    if (want == regular_)
        return;
    regular_ = want;
    if (regular_)
        setBadge(running(jobs));
}

void DockPresence::sendBadge(int count)
{
    auto signal = QDBusMessage::createSignal("/com/brivlon/launcher", "com.canonical.Unity.LauncherEntry", "Update");
    signal << QString("application://brivlon.desktop")
           << QVariantMap{{"count", qint64(count)}, {"count-visible", count > 0}};
    QDBusConnection::sessionBus().send(signal);
}
