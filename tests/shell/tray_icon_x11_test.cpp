// The tray icon reaches a StatusNotifier host: a watcher of our own on the private session bus of
// support/with-x plays the desktop's tray, and the program started as usual registers its item.
// A settings portal of our own plays the desktop's colour scheme.
#include "core/base/settings.h"
#include "support/test_support.h"

#include <QColor>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <atomic>
#include <optional>

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

// The settings portal of a current desktop: ReadOne answers the bare value.
class Portal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    std::atomic<uint> scheme = 0;

public Q_SLOTS:
    Q_SCRIPTABLE QDBusVariant ReadOne(const QString& group, const QString& key)
    {
        if (group != "org.freedesktop.appearance" || key != "color-scheme")
            return QDBusVariant(QString());
        return QDBusVariant(scheme.load());
    }
};

// The portal's signal, from the name the portal owns on `bus`.
void announce(QDBusConnection& bus, Portal& portal, uint scheme)
{
    portal.scheme = scheme;
    auto signal = QDBusMessage::createSignal(
        "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
    signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
           << QVariant::fromValue(QDBusVariant(scheme));
    bus.send(signal);
}

QVariant itemProperty(QDBusConnection& bus, const QString& service, const QString& name)
{
    auto call
        = QDBusMessage::createMethodCall(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
    call << QStringLiteral("org.kde.StatusNotifierItem") << name;
    // Asked without blocking this thread's event loop, which serves the watcher.
    auto pending = bus.asyncCall(call, 5000);
    pending.waitForFinished();
    const auto reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().front().value<QDBusVariant>().variant();
}

// The lightness of the icon's ink, 0 black to 1 white, over the opaque pixels of every size the
// item hands the tray (ARGB in network byte order); nothing when it hands none.
std::optional<double> iconInk(QDBusConnection& bus, const QString& service)
{
    const QVariant value = itemProperty(bus, service, "IconPixmap");
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const auto argument = value.value<QDBusArgument>();
    double sum = 0;
    int count = 0;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0, height = 0;
        QByteArray bytes;
        argument.beginStructure();
        argument >> width >> height >> bytes;
        argument.endStructure();
        for (qsizetype i = 0; i + 3 < bytes.size(); i += 4)
            if (uchar(bytes[i]) > 200) {
                sum += QColor(uchar(bytes[i + 1]), uchar(bytes[i + 2]), uchar(bytes[i + 3])).lightnessF();
                ++count;
            }
    }
    argument.endArray();
    if (count == 0)
        return std::nullopt;
    return sum / count;
}

}

// The item is the program's, named as the program is; its icon is drawn for the desktop's panel,
// whatever appearance the program's windows have: black on a light desktop with "Escuro" chosen,
// white once the desktop turns dark.
TEST(TrayIcon, RegistersWithTheDesktopsStatusNotifierHostAndFollowsItsScheme)
{
    auto bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "run through tests/support/with-x";
    Watcher watcher;
    ASSERT_TRUE(bus.registerObject("/StatusNotifierWatcher", &watcher,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
    // It answers from a thread of its own: the program asks it with a blocking call at start-up.
    Portal portal;
    portal.scheme = 2;
    QThread portalThread;
    portal.moveToThread(&portalThread);
    portalThread.start();
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/portal/desktop", &portal, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
    Defaults::set(SettingKey::appearance, QStringLiteral("dark"));

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
    const QString item = watcher.registered.front();
    EXPECT_EQ(itemProperty(bus, item, "Title").toString(), "Brivlon");

    auto ink = iconInk(bus, item);
    ASSERT_TRUE(ink);
    EXPECT_LT(*ink, 0.2) << "a light desktop's panel takes the black icon";
    announce(bus, portal, 1);
    clock.restart();
    while ((ink = iconInk(bus, item)) && *ink < 0.8 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(ink);
    EXPECT_GT(*ink, 0.8) << "a dark desktop's panel takes the white icon";

    app.terminate();
    app.waitForFinished(5000);
    bus.unregisterService("org.freedesktop.portal.Desktop");
    bus.unregisterObject("/org/freedesktop/portal/desktop");
    portalThread.quit();
    portalThread.wait();
    Defaults::set(SettingKey::appearance, QStringLiteral("auto"));
}

#include "tray_icon_x11_test.moc"
