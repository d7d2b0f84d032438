#pragma once

#include "core/base/service.h"

#include <QObject>
#include <QString>

// What the settings window and the problem report need of the office component: its install
// state, and a way to start the install. The documents side installs the implementation at
// start-up; without one the component counts as not installed and installing does nothing.
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

    // The office suite's version the component installs, named in the Files page's footer.
    static constexpr const char* suiteVersion = "26.8.2";

    virtual ~OfficeComponent() = default;
    virtual State office() const = 0;
    // Starts the install unless one runs; the outcome arrives through `changed`.
    virtual void install() = 0;

    // The installed component's state, or not installed when none is installed.
    static State current();

Q_SIGNALS:
    void changed();
};
