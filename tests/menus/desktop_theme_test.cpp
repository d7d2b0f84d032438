#include "menus/desktop_theme.h"
#include "menus/theme_preview.h"

#include "core/base/settings.h"
#include "core/job_fakes.h"
#include "menus/palette.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDBusMessage>
#include <QDialog>
#include <QDBusVariant>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// The desktop's settings portal as far as the colour scheme goes.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint scheme = 1;
public Q_SLOTS:
    Q_SCRIPTABLE QDBusVariant Read(const QString&, const QString&)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
    }
};

void announce(QDBusConnection& bus, const QString& key, uint scheme)
{
    auto signal = QDBusMessage::createSignal(
        "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
    signal << QStringLiteral("org.freedesktop.appearance") << key << QVariant::fromValue(QDBusVariant(scheme));
    bus.send(signal);
}

QImage still(ThemePreview::Look from, ThemePreview::Look to, double elapsed)
{
    QImage image(400, 140, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    ThemePreview::paint(painter, image.rect(), from, to, elapsed);
    return image;
}

}

TEST(DesktopTheme, AutoFollowsThePortalsColourSchemeAsItChanges)
{
    QProcess daemon;
    daemon.start("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const auto address = QString::fromUtf8(daemon.readLine().trimmed());
    auto desktop = QDBusConnection::connectToBus(address, "fake-portal");
    // It answers from a thread of its own: the theme asks it with a blocking call.
    FakePortal portal;
    QThread thread;
    portal.moveToThread(&thread);
    thread.start();
    ASSERT_TRUE(
        desktop.registerObject("/org/freedesktop/portal/desktop", &portal, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(desktop.registerService("org.freedesktop.portal.Desktop"));

    auto& notifier = Theme::Notifier::shared();
    int changes = 0;
    auto counted = QObject::connect(&notifier, &Theme::Notifier::themeChanged, [&] {
        ++changes;
    });
    notifier.watchPortal(QDBusConnection::connectToBus(address, "theme-client"));
    EXPECT_TRUE(Theme::isDark());

    // Another setting of the same group says nothing; the scheme turning light repaints once.
    announce(desktop, "accent-color", 2);
    announce(desktop, "color-scheme", 2);
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return changes > 0;
    }));
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(Theme::isDark());
    announce(desktop, "color-scheme", 1);
    EXPECT_TRUE(JobFakes::pumpUntil([&] {
        return changes > 1;
    }));
    EXPECT_TRUE(Theme::isDark());
    QObject::disconnect(counted);
    thread.quit();
    thread.wait();
    daemon.close();
}

// What a tray icon is drawn for: the desktop's scheme, never the appearance chosen for the
// program's own windows, whose palette says nothing about the panel.
TEST(DesktopTheme, TheDesktopsSchemeIsThePortalsElseItsOwnPalettes)
{
    auto& notifier = Theme::Notifier::shared();
    auto scheme = [&](uint value) {
        auto signal = QDBusMessage::createSignal(
            "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged");
        signal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(value));
        notifier.portalSettingChanged(signal);
    };
    int desktopChanges = 0, themeChanges = 0;
    auto desktop = QObject::connect(&notifier, &Theme::Notifier::desktopSchemeChanged, [&] {
        ++desktopChanges;
    });
    auto theme = QObject::connect(&notifier, &Theme::Notifier::themeChanged, [&] {
        ++themeChanges;
    });
    Defaults::set(SettingKey::appearance, QStringLiteral("dark"));
    scheme(0);
    DesktopTheme().apply();
    EXPECT_TRUE(Theme::isDark());
    EXPECT_FALSE(Theme::desktopIsDark()) << "the platform's palette is light under the dark one applied";
    desktopChanges = themeChanges = 0;
    scheme(1);
    EXPECT_TRUE(Theme::desktopIsDark());
    EXPECT_EQ(desktopChanges, 1);
    EXPECT_EQ(themeChanges, 0) << "the windows keep the appearance chosen";
    Defaults::set(SettingKey::appearance, QStringLiteral("light"));
    DesktopTheme().apply();
    EXPECT_FALSE(Theme::isDark());
    EXPECT_TRUE(Theme::desktopIsDark());
    scheme(0);
    EXPECT_FALSE(Theme::desktopIsDark());
    QObject::disconnect(desktop);
    QObject::disconnect(theme);
    Defaults::set(SettingKey::appearance, QStringLiteral("auto"));
    DesktopTheme().apply();
}

// A combo box's list and the tool panel are windows of their own: their selections take the
// theme's colour too, not the platform's blue.
TEST(DesktopTheme, SelectionsInEveryWindowTakeTheThemesColour)
{
    for (const char* theme : {"stage", "classic"})
        for (const char* look : {"light", "dark"}) {
            Defaults::set(SettingKey::theme, QString(theme));
            Defaults::set(SettingKey::appearance, QString(look));
            DesktopTheme().apply();
            const QColor expected = Theme::palette(Theme::isDark(), Theme::current()).metal(WheelMode::convert);
            QComboBox combo;
            combo.addItems({"PNG", "JPG"});
            QDialog panel;
            EXPECT_EQ(combo.view()->palette().color(QPalette::Highlight), expected) << theme << " " << look;
            EXPECT_EQ(panel.palette().color(QPalette::Highlight), expected) << theme << " " << look;
        }
    Defaults::set(SettingKey::theme, QStringLiteral("macos"));
    Defaults::set(SettingKey::appearance, QStringLiteral("auto"));
    DesktopTheme().apply();
}

TEST(ThemePreview, AChangeFadesFromTheOldLookIntoTheNew)
{
    const ThemePreview::Look light{AppTheme::classic, false}, dark{AppTheme::stage, true};
    const QImage before = still(light, light, 1), after = still(dark, dark, 1);
    EXPECT_EQ(still(light, dark, 0), before);
    EXPECT_EQ(still(light, dark, ThemePreview::fadeSeconds), after);
    // Halfway the gradient card lies between the two, and moves slowly at the start (ease in).
    auto lightness = [](const QImage& image) {
        return QColor(image.pixel(4, 70)).lightnessF();
    };
    const double from = lightness(before), to = lightness(after);
    const double half = lightness(still(light, dark, ThemePreview::fadeSeconds / 2));
    const double early = lightness(still(light, dark, ThemePreview::fadeSeconds / 8));
    EXPECT_NEAR(half, (from + to) / 2, std::abs(from - to) * 0.1);
    EXPECT_LT(std::abs(early - from), std::abs(from - to) * 0.1);
}

#include "desktop_theme_test.moc"
