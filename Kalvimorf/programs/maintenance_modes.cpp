#include "programs/maintenance_modes.h"

#include "programs/cli.h"
#include "documents/component_installer.h"
#include "documents/components.h"
#include "settings/feedback.h"
#include "settings/updates.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace MaintenanceModes {

void installComponents()
{
    Cli::makeApplication(true);
    auto& installer = ComponentInstaller::shared();
    // The install itself, not installIfNeeded(): an explicit request runs even beside the
    // distribution's suite.
    installer.install();
    auto* poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, [&installer] {
        const auto& state = installer.office();
        using Kind = ComponentInstaller::State::Kind;
        switch (state.kind) {
        case Kind::failed: std::printf("falhou: %s\n", state.message.c_str()); Cli::exitNow(Cli::ExitCode::failed);
        case Kind::waitingNetwork: std::printf("aguardando internet\n"); Cli::exitNow(Cli::ExitCode::waitingForNetwork);
        case Kind::ready: {
            const auto soffice = Components::soffice();
            std::printf("pronto: %s\n", soffice ? soffice->c_str() : "-");
            Cli::exitNow(Cli::ExitCode::done);
        }
        case Kind::downloading:
        case Kind::notInstalled:
        case Kind::installing: break;
        }
    });
    poll->start(300);
    QCoreApplication::exec();
    Cli::exitNow(Cli::ExitCode::failed);
}

void diagnostics()
{
    std::printf("%s\n", Feedback::diagnostics().toUtf8().constData());
    Cli::exitNow(Cli::ExitCode::done);
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
        Cli::exitNow(Cli::ExitCode::done);
    });
    poll->start(100);
    QCoreApplication::exec();
    Cli::exitNow(Cli::ExitCode::done);
}

}
