#pragma once

#include "core/base/service.h"

#include <QObject>
#include <QString>

// What the settings window and the problem report need of the office component: its install
// state, and a way to start the install. The tray program puts the installer behind it at
// start-up (useInstaller), tests a fake; without one nothing can be installed from here.
class OfficeComponent : public QObject, public Service<OfficeComponent> {
    Q_OBJECT
public:
    struct State {
        enum class Phase { downloading, failed, notInstalled, waitingNetwork, installing, ready };
        Phase phase = Phase::notInstalled;
        double fraction = 0;  // downloading: 0 to 1
        QString message;  // failed: why
        bool operator==(const State&) const = default;
    };

    virtual ~OfficeComponent() = default;
    virtual State office() const = 0;
    // Starts the install unless one runs; the outcome arrives through `changed`.
    virtual void install() = 0;

    // The state of the installed implementation; without one, ready when the component is on
    // disk and not installed otherwise.
    static State current();
    // Puts the documents side's installer behind this interface; the tray program does at start.
    static void useInstaller();

Q_SIGNALS:
    void changed();
};
