// The tray icon reaches a StatusNotifier host: a watcher of our own on the private session bus of
// support/with-x plays the desktop's tray, and the program started as usual registers its item.
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

// The part of the StatusNotifierWatcher protocol that a tray icon talks to.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    QStringList registered;
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return registered; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service) { registered << service; }
    void RegisterStatusNotifierHost(const QString&) { }

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();
};

}

TEST(TrayIcon, RegistersWithTheDesktopsStatusNotifierHost)
{
    auto bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "run through tests/support/with-x";
    Watcher watcher;
    ASSERT_TRUE(bus.registerObject("/StatusNotifierWatcher", &watcher,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));

    TempDir runtime;
    QProcess app;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string()));
    environment.insert("BRIVLON_TRACE", "1");
    environment.insert("BRIVLON_FORCE_OFFLINE", "1");
    environment.insert("BRIVLON_UPDATES_URL", "http://127.0.0.1:9/atualizacoes.json");
    app.setProcessEnvironment(environment);
    app.start(BRIVLON_BINARY, {});
    // This process answers the program's questions on the bus meanwhile, so it never blocks.
    QElapsedTimer clock;
    clock.start();
    while (watcher.registered.isEmpty() && clock.elapsed() < 20000 && app.state() != QProcess::NotRunning)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(watcher.registered.size(), 1) << app.readAllStandardError().toStdString();
    // The item is the program's own on the bus.
    const auto owner = bus.interface()->serviceOwner(watcher.registered.front()).value();
    EXPECT_FALSE(owner.isEmpty());
    EXPECT_EQ(bus.interface()->servicePid(owner).value(), uint(app.processId()));
    while (!app.readAllStandardOutput().contains("pronto") && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    app.terminate();
    app.waitForFinished(5000);
}

#include "tray_icon_x11_test.moc"
