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
        // The distribution's suite that converts while no component is ready ("LibreOffice 7.4");
        // empty when there is none.
        QString systemSuite;
        // Whether an install started now could succeed: a component is published for this
        // machine and the network is usable.
        bool canDownload = true;
        bool operator==(const State&) const = default;
        // No component ready, and the distribution's suite converts in its place.
        bool bySystemSuite() const
        {
            return !systemSuite.isEmpty()
                && (phase == Phase::notInstalled || phase == Phase::waitingNetwork || phase == Phase::failed);
        }
    };

    virtual ~OfficeComponent() = default;
    virtual State office() const = 0;
    // Starts the install unless one runs; the outcome arrives through `changed`.
    virtual void install() = 0;

    // The state of the installed implementation; without one, ready when the component is on
    // disk and not installed otherwise. Both name the distribution's suite when there is one.
    static State current();
    // Puts the documents side's installer behind this interface; the tray program does at start.
    static void useInstaller();

Q_SIGNALS:
    void changed();
};
