// The tray program's side of the office route: however many workers note the simple route, one
// information row appears, and the installer's run shows as the job "Preparando o Brivlon".

#include "core/base/task.h"
#include "core/jobs/job_store.h"
#include "documents/office_notices.h"
#include "core/state/office_events.h"
#include "documents/component_installer.h"

#include "support/test_support.h"

#include <QTest>

#include <gtest/gtest.h>

TEST(OfficeNotices, SimpleRouteNoticeOnceAndTheInstallersJob)
{
    OfficeNotices::install();
    auto events = OfficeEvents::shared();
    ASSERT_TRUE(events);
    const size_t before = JobStore::shared().jobs().size();
    // The worker's sentence comes from a process that cannot see the network; the row says
    // what the installer here knows.
    auto& installer = ComponentInstaller::shared();
    QCoreApplication::processEvents(); // the installer's own first look at the network
    installer.networkChanged(false);
    events->simpleMode("O motor de documentos está sendo instalado; os próximos PDFs sairão com o layout completo.");
    events->simpleMode("segundo aviso");
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return JobStore::shared().jobs().size() == before + 1;
    }));
    // Whatever the second notice queued has run once a marker queued after it has.
    bool flushed = false;
    MainThread::post([&flushed] {
        flushed = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return flushed;
    }));
    const auto& jobs = JobStore::shared().jobs();
    ASSERT_EQ(jobs.size(), before + 1);
    EXPECT_EQ(jobs.back().sourceName, "PDF feito no modo simples");
    EXPECT_EQ(jobs.back().target, "");
    EXPECT_TRUE(jobs.back().state.is(Job::State::Kind::info));
    EXPECT_EQ(jobs.back().state.message,
        "Sem internet: o motor de documentos será instalado sozinho quando a conexão voltar.");
    EXPECT_FALSE(jobs.back().started);

    Q_EMIT installer.jobStarted();
    Q_EMIT installer.jobProgress(0.45);
    ASSERT_EQ(JobStore::shared().jobs().size(), before + 2);
    EXPECT_EQ(JobStore::shared().jobs().back().sourceName, "Preparando o Brivlon");
    EXPECT_EQ(JobStore::shared().jobs().back().progress, 0.45);
    Q_EMIT installer.jobFinished(ComponentInstaller::jobFailed, "Não deu para preparar a conversão de documentos: x");
    const auto& last = JobStore::shared().jobs().back();
    EXPECT_TRUE(last.state.is(Job::State::Kind::failed));
    EXPECT_EQ(last.state.message, "Não deu para preparar a conversão de documentos: x");
    OfficeEvents::set(nullptr);
}
