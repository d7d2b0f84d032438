// The tray icon reaches a StatusNotifier host: a watcher of our own on the private session bus of
// support/with-x plays the desktop's tray, and the program started as usual registers its item.
// A settings portal of our own plays the desktop's colour scheme.
#include "core/base/settings.h"
#include "support/line_child.h"
#include "support/test_support.h"

#include <QColor>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
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

// The lightness of the icon's ink, 0 black to 1 white: the solid lower part of its front card
// (below the star, at 0.5 and 0.61 of its width and height), over every size the item hands the
// tray (ARGB in network byte order); nothing when it hands none.
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
        const qsizetype i = (qsizetype(height * 0.61) * width + width / 2) * 4;
        if (i + 3 < bytes.size() && uchar(bytes[i]) > 200) {
            sum += QColor(uchar(bytes[i + 1]), uchar(bytes[i + 2]), uchar(bytes[i + 3])).lightnessF();
            ++count;
        }
    }
    argument.endArray();
    if (count == 0)
        return std::nullopt;
    return sum / count;
}

// One entry of a dbusmenu layout, as a host reads it: (id, properties, children).
struct MenuEntry {
    QString label;
    QString type;
    std::vector<MenuEntry> children;
};

MenuEntry readEntry(const QDBusArgument& argument)
{
    MenuEntry entry;
    int id = 0;
    QVariantMap properties;
    argument.beginStructure();
    argument >> id >> properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children.push_back(readEntry(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    entry.label = properties.value("label").toString();
    entry.type = properties.value("type").toString();
    return entry;
}

// The item's menu read as the Xfce panel reads it: the whole layout at once, with no
// AboutToShow before. The labels of its entries, separators left out.
QStringList menuLabels(QDBusConnection& bus, const QString& service)
{
    const auto path = itemProperty(bus, service, "Menu").value<QDBusObjectPath>().path();
    if (path.isEmpty())
        return {QStringLiteral("(no menu)")};
    auto call = QDBusMessage::createMethodCall(service, path, "com.canonical.dbusmenu", "GetLayout");
    call << 0 << -1 << QStringList();
    auto pending = bus.asyncCall(call, 5000);
    pending.waitForFinished();
    const auto reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return {QStringLiteral("(no layout)")};
    QStringList labels;
    for (const auto& entry : readEntry(reply.arguments().at(1).value<QDBusArgument>()).children)
        if (entry.type != "separator")
            labels << entry.label;
    return labels;
}

QProcessEnvironment programEnvironment(const TempDir& runtime)
{
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string()));
    environment.insert("BRIVLON_TRACE", "1");
    environment.insert("BRIVLON_FORCE_OFFLINE", "1");
    environment.insert("BRIVLON_UPDATES_URL", "http://127.0.0.1:9/atualizacoes.json");
    return environment;
}

}

// The item is the program's, named as the program is, and its menu can be read whole at any
// time; its icon is drawn for the desktop's panel,
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
    app.setProcessEnvironment(programEnvironment(runtime));
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
    // Its menu has its entries before anyone asks for them to be brought up to date.
    EXPECT_EQ(menuLabels(bus, item),
        (QStringList{"Nada em andamento", "Ocultar painel de progresso", "Abrir Brivlon", "Relatar um problema…",
            "Ajustes…", "Sair do Brivlon"}));

    // A left click on the panel's icon is an Activate: the same menu opens there.
    auto activate = QDBusMessage::createMethodCall(item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate");
    activate << 300 << 10;
    bus.asyncCall(activate, 5000);
    QByteArray said;
    while (!said.contains("menu da bandeja na tela") && clock.elapsed() < 30000 && app.state() != QProcess::NotRunning) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        said += app.readAllStandardOutput();
    }
    EXPECT_TRUE(said.contains("menu da bandeja na tela")) << "Activate opened no menu";

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

// Beside an XEmbed tray (lxpanel's, a dark strip) the icon docks and reads on the panel, and a
// second start without files shows the main window, again after the window was closed.
TEST(TrayIcon, BesideAnXEmbedTrayTheIconReadsAndASecondStartShowsTheWindow)
{
    LineChild tray(XEMBED_TRAY, {"#373737"});
    ASSERT_TRUE(tray.expect("ready"));
    TempDir runtime;
    const auto environment = programEnvironment(runtime);
    std::vector<std::pair<std::string, std::string>> variables;
    for (const auto& name : environment.keys())
        variables.emplace_back(name.toStdString(), environment.value(name).toStdString());
    LineChild app(BRIVLON_BINARY, {}, variables);
    ASSERT_TRUE(tray.expect("docked"));
    std::vector<std::string> said;
    const auto until = [&](const std::string& wanted) {
        for (auto line = app.nextLine(); line; line = app.nextLine()) {
            said.push_back(*line);
            if (*line == wanted)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(until("pronto"));
    EXPECT_EQ(std::count(said.begin(), said.end(), "janela principal na tela"), 0) << "a tray is there: no window";

    // What the strip shows where the icon is, once it has drawn: the contrast a fifth of its
    // pixels reach against the dark panel.
    tray.send("look");
    const auto look = tray.nextLine();
    ASSERT_TRUE(look);
    double ratio = 1;
    size_t pixels = 0;
    ASSERT_EQ(std::sscanf(look->c_str(), "icon %lf %zu", &ratio, &pixels), 2) << *look;
    EXPECT_GT(pixels, 40u) << "the icon never drew";
    EXPECT_GE(ratio, 3) << "the icon on a #373737 panel";

    // The icon's left button opens the menu as the right one does; Escape closes it again.
    {
        LineChild driver(XTEST_DRIVER);
        for (const char* step : {"move 12 12", "press", "release"}) {
            driver.send(step);
            ASSERT_TRUE(driver.expect("ok"));
        }
        ASSERT_TRUE(until("menu da bandeja na tela"));
        for (const char* step : {"down Escape", "up Escape"}) {
            driver.send(step);
            ASSERT_TRUE(driver.expect("ok"));
        }
    }

    for (int round = 0; round < 2; ++round) {
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(BRIVLON_BINARY, {});
        ASSERT_TRUE(second.waitForFinished(20000));
        EXPECT_EQ(second.exitCode(), 0);
        ASSERT_TRUE(until("janela principal na tela")) << "round " << round;
        if (round == 0) {
            ASSERT_TRUE(until("janela principal ativa"));
            LineChild driver(XTEST_DRIVER);
            for (const char* step : {"down Control_L", "down w", "up w", "up Control_L"}) {
                driver.send(step);
                ASSERT_TRUE(driver.expect("ok"));
            }
            ASSERT_TRUE(until("janela principal fechada"));
        }
    }
}

#include "tray_icon_x11_test.moc"
