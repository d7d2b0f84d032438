#include "shell/status_menu.h"

#include "shell/app_commands.h"

#include <algorithm>

namespace StatusMenu {

namespace {

Item separator() { return {true, {}, Action::none, {}, true, std::nullopt, {}}; }

Item item(std::string title, Action action, std::string key = {}, bool enabled = true)
{
    return {false, std::move(title), action, std::move(key), enabled, std::nullopt, {}};
}

std::vector<const Job*> running(const std::vector<Job>& jobs)
{
    std::vector<const Job*> result;
    for (const auto& job : jobs)
        if (job.isRunning())
            result.push_back(&job);
    return result;
}

int meanPercent(const std::vector<const Job*>& jobs)
{
    double sum = 0;
    for (const Job* job : jobs)
        sum += job->progress.value_or(0);
    return int(sum / double(jobs.size()) * 100);
}

}

std::string menuTitle(const Job& job)
{
    std::string title = job.sourceName;
    if (!job.target.empty())
        title += " → " + job.target;
    title += "   ";
    using Kind = Job::State::Kind;
    switch (job.state.kind) {
    case Kind::done:
    case Kind::info: return title + "✓";
    case Kind::failed: return title + "falhou";
    case Kind::cancelled: return title + "cancelado";
    case Kind::running:
        if (!job.started)
            return title + "na fila";
        if (job.progress)
            return title + std::to_string(int(*job.progress * 100)) + "%";
        return title + "…";
    }
    return title;
}

std::vector<Item> items(const std::vector<Job>& jobs, bool hudHidden, const std::optional<std::string>& offered)
{
    std::vector<Item> menu;
    if (offered) {
        menu.push_back(item("Nova versão " + *offered + " disponível — baixar", Action::downloadUpdate));
        menu.push_back(separator());
    }
    if (jobs.empty()) {
        menu.push_back(item("Nada em andamento", Action::none, {}, false));
    } else {
        const size_t first = jobs.size() - std::min<size_t>(jobs.size(), 8);
        for (size_t i = jobs.size(); i-- > first;) {
            const Job& job = jobs[i];
            Item row = item(menuTitle(job), Action::revealJob);
            row.job = job.id;
            if (job.isRunning()) {
                Item cancel = item("Cancelar", Action::cancelJob);
                cancel.job = job.id;
                row.submenu.push_back(cancel);
            }
            menu.push_back(row);
        }
        if (running(jobs).size() >= 2) {
            menu.push_back(separator());
            menu.push_back(item("Cancelar tudo", Action::cancelAllJobs));
        }
    }
    menu.push_back(separator());
    menu.push_back(
        item(hudHidden ? "Mostrar painel de progresso" : "Ocultar painel de progresso", Action::toggleHud, "p"));
    menu.push_back(separator());
    menu.push_back(item(AppCommands::openWindow, Action::showWindow, "o"));
    menu.push_back(item(AppCommands::reportProblem, Action::reportProblem));
    menu.push_back(item(AppCommands::settings, Action::showSettings, ","));
    menu.push_back(separator());
    menu.push_back(item(AppCommands::quit, Action::quit, "q"));
    return menu;
}

std::string shape(const std::vector<Item>& items)
{
    std::string text;
    for (const auto& item : items) {
        if (item.separator) {
            text += "-\n";
            continue;
        }
        text += std::to_string(int(item.action)) + (item.enabled ? "" : " off") + " " + item.key + " ";
        text += item.job ? item.job->toString().toStdString() : item.title;
        if (!item.submenu.empty())
            text += " [" + shape(item.submenu) + "]";
        text += "\n";
    }
    return text;
}

std::string trayTitle(const std::vector<Job>& jobs)
{
    const auto active = running(jobs);
    if (active.empty())
        return {};
    return " " + std::to_string(active.size()) + " · " + std::to_string(meanPercent(active)) + "%";
}

std::optional<double> iconProgress(const std::vector<Job>& jobs)
{
    const auto active = running(jobs);
    if (active.empty())
        return std::nullopt;
    return meanPercent(active) / 100.0;
}

}
