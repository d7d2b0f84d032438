#include "documents/office_notices.h"

#include "core/base/job_notes.h"
#include "core/base/task.h"
#include "core/jobs/job_store.h"
#include "core/state/office_events.h"
#include "documents/component_installer.h"
#include "documents/office_engine.h"

#include <atomic>

namespace OfficeNotices {

namespace {

class StoreNotices : public OfficeEvents {
public:
    void simpleMode(const std::string&) override
    {
        // Each worker is a process of its own and notes the simple route once; the program shows
        // it once. A worker cannot see the network, so the sentence follows the installer here,
        // which waits for the network exactly when the notice promises it will.
        if (shown_.exchange(true))
            return;
        MainThread::post([] {
            // Appended as it is: a notice has nothing to cancel and claims no card.
            Job job;
            job.sourceName = "PDF feito no modo simples";
            job.state = Job::State::info(OfficeEngine::simpleModeMessage(ComponentInstaller::shared().online()));
            job.started = false;
            JobStore::shared().append(std::move(job));
        });
    }
    void componentWanted() override
    {
        MainThread::post([] {
            ComponentInstaller::shared().installIfNeeded();
        });
    }

private:
    std::atomic<bool> shown_{false};
};

// What a finished job left out, as an information row under the source's name beside its own.
class StoreNotes : public JobNotes {
public:
    void note(const std::filesystem::path& about, const std::string& sentence) override
    {
        MainThread::post([name = about.filename().string(), sentence] {
            Job job;
            job.sourceName = name;
            job.state = Job::State::info(sentence);
            job.started = false;
            JobStore::shared().append(std::move(job));
        });
    }
};

// The installer's one job per run, "Preparando o Brivlon", in the job store.
void showInstallerJobs()
{
    auto& installer = ComponentInstaller::shared();
    auto id = std::make_shared<QUuid>();
    QObject::connect(&installer, &ComponentInstaller::jobStarted, &installer, [id, &installer] {
        auto& store = JobStore::shared();
        *id = store.add("Preparando o Brivlon", "");
        store.markStarted(*id);
        store.setCanceler(*id, [&installer] {
            installer.cancelRun();
        });
    });
    QObject::connect(&installer, &ComponentInstaller::jobProgress, &installer, [id](double value) {
        JobStore::shared().setProgress(*id, value);
    });
    QObject::connect(&installer, &ComponentInstaller::jobFinished, &installer, [id](int kind, const QString& message) {
        const std::string text = message.toStdString();
        JobStore::shared().finish(*id,
            kind == ComponentInstaller::jobInfo         ? Job::State::info(text)
                : kind == ComponentInstaller::jobFailed ? Job::State::failed(text)
                                                        : Job::State::cancelled());
    });
}

}

void install()
{
    OfficeEvents::set(std::make_shared<StoreNotices>());
    JobNotes::set(std::make_shared<StoreNotes>());
    showInstallerJobs();
}

}
