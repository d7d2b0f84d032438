#pragma once

#include "core/jobs/job.h"

#include <optional>
#include <string>
#include <vector>

// The tray's menu as plain values, rebuilt from the job list each time it opens, and the texts
// the tray shows beside its icon. The tray turns the model into a QMenu; tests read it directly.
namespace StatusMenu {

enum class Action {
    none,
    revealJob,
    cancelJob,
    cancelAllJobs,
    toggleHud,
    showWindow,
    reportProblem,
    showSettings,
    checkForUpdates,
    downloadUpdate,
    quit,
};

struct Item {
    bool separator = false;
    std::string title;
    Action action = Action::none;
    std::string key;  // the letter that goes with Ctrl
    bool enabled = true;
    std::optional<QUuid> job;
    std::vector<Item> submenu;
};

// One line per job: the source, " → " and the target when there is one, three spaces, then
// "✓", "falhou", "cancelado", "na fila", the whole per cent, or "…".
std::string menuTitle(const Job& job);

// Newest first, at most 8 jobs; "Cancelar tudo" from two running jobs of the whole list. An
// offered update (its version) comes first.
std::vector<Item> items(const std::vector<Job>& jobs, bool hudHidden, const std::optional<std::string>& offered = {});

// All that tells two menus apart but the job rows' titles, which change with every per cent: the
// tray rebuilds its menu when this changes and only retitles the rows otherwise.
std::string shape(const std::vector<Item>& items);

// What the tray shows while jobs run: their number and mean progress (" 2 · 37%"); empty when
// idle. The tooltip reads "Brivlon" then.
std::string trayTitle(const std::vector<Job>& jobs);
// The icon's fill: the mean progress in whole per cent, nothing when idle.
std::optional<double> iconProgress(const std::vector<Job>& jobs);

}
