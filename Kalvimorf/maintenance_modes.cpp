#include "maintenance_modes.h"

#include "cli.h"
#include "documents/component_installer.h"
#include "documents/components.h"

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
        case Kind::failed: std::printf("falhou: %s\n", state.message.c_str()); Cli::exitNow(1);
        case Kind::waitingNetwork: std::printf("aguardando internet\n"); Cli::exitNow(2);
        case Kind::ready: {
            const auto soffice = Components::soffice();
            std::printf("pronto: %s\n", soffice ? soffice->c_str() : "-");
            Cli::exitNow(0);
        }
        case Kind::downloading:
        case Kind::notInstalled:
        case Kind::installing: break;
        }
    });
    poll->start(300);
    QCoreApplication::exec();
    Cli::exitNow(1);
}

}
