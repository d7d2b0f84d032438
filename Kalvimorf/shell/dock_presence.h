#pragma once

#include "core/jobs/job.h"

#include <functional>
#include <optional>
#include <vector>

// Whether the program would be a regular application with a dock icon: while one of its titled
// windows is shown or minimised, or while a job runs. Linux has no activation policy to switch,
// so the state is kept for what follows it (the badge); docks that read the launcher-entry signal
// show the number of running jobs.
class DockPresence {
public:
    // `badge` gets the number of running jobs whenever it changes.
    explicit DockPresence(std::function<void(int)> badge);

    static bool wanted(bool titledWindowShown, const std::vector<Job>& jobs);
    static int running(const std::vector<Job>& jobs);

    // A new job list: the badge first, then the rule.
    void jobsChanged(const std::vector<Job>& jobs, bool titledWindowShown);
    // A window opened, closed, was minimised or restored; `jobs` is the store's list now.
    void update(bool titledWindowShown, const std::vector<Job>& jobs);
    bool regular() const { return regular_; }

    // com.canonical.Unity.LauncherEntry.Update for application://brivlon.desktop on the session bus.
    static void sendBadge(int count);

private:
    void setBadge(int count);

    std::function<void(int)> badge_;
    std::optional<int> lastBadge_;
    bool regular_ = false;
};
