#pragma once

#include <QObject>

// The application's delegate: owns the status item, panels, windows and the drag monitor.
// Built with nothing; all start-up work happens in applicationDidFinishLaunching().
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate() = default;
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }
};
