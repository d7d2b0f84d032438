#include "core/jobs/office_notices.h"

#include "core/base/task.h"
#include "core/jobs/job_store.h"
#include "core/state/office_events.h"

namespace OfficeNotices {

namespace {

class StoreNotices : public OfficeEvents {
public:
    void simpleMode(const std::string& message) override
    {
        MainThread::post([message] {
            // Appended as it is: a notice has nothing to cancel and claims no card.
            Job job;
            job.sourceName = "PDF feito no modo simples";
            job.state = Job::State::info(message);
            job.started = false;
            JobStore::shared().append(std::move(job));
        });
    }
    void componentWanted() override { }
};

}

void install() { OfficeEvents::set(std::make_shared<StoreNotices>()); }

}
