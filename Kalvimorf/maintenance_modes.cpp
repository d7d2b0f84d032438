#include "maintenance_modes.h"

#include "cli.h"
#include "settings/feedback.h"
#include "settings/updates.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace MaintenanceModes {

void diagnostics()
{
    std::printf("%s\n", Feedback::diagnostics().toUtf8().constData());
    Cli::exitNow(0);
}

void checkUpdates()
{
    Cli::makeApplication(true);
    auto& updates = Updates::shared();
    updates.check(false);
    // The check ends by itself: a failure, the 20 s time-out or an answer all set lastCheck.
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, [&updates] {
        if (!updates.lastCheck())
            return;
        const auto offered = updates.update() ? updates.update()->versao : QString("nenhuma");
        std::printf("atual: %s\n", Updates::currentVersion().toUtf8().constData());
        std::printf("atualização coberta: %s\n", offered.toUtf8().constData());
        Cli::exitNow(0);
    });
    poll->start(100);
    QCoreApplication::exec();
    Cli::exitNow(0);
}

}
