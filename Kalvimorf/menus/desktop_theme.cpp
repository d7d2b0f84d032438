#include "menus/desktop_theme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QPalette>
#include <QStyle>
#include <QWidget>

namespace Theme {

namespace {

// The portal's answer once per process: asking the bus at every paint would cost a round trip.
std::optional<bool> portalPrefersDark()
{
    static const std::optional<bool> answer = []() -> std::optional<bool> {
        auto bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return std::nullopt;
        auto call = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
            "org.freedesktop.portal.Settings", "Read");
        call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
        QDBusMessage reply = bus.call(call, QDBus::Block, 300);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return std::nullopt;
        // The value comes wrapped in one or two variants depending on the portal's version.
        QVariant value = reply.arguments().front();
        while (value.canConvert<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        bool ok = false;
        const uint scheme = value.toUInt(&ok);
        if (!ok || scheme == 0)
            return std::nullopt;
        return scheme == 1;
    }();
    return answer;
}

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(45, 45, 45), base(30, 30, 30), text(235, 235, 235);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(150, 150, 150));
    palette.setColor(QPalette::Highlight, QColor(0, 122, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

}

Notifier& Notifier::shared()
{
    static Notifier* instance = new Notifier;
    return *instance;
}

bool isDark(const QWidget* widget)
{
    switch (appearance()) {
    case AppAppearance::light: return false;
    case AppAppearance::dark: return true;
    case AppAppearance::automatic: break;
    }
    if (auto dark = portalPrefersDark())
        return *dark;
    const QPalette palette = widget ? widget->palette() : (qApp ? QApplication::palette() : QPalette());
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

}

void DesktopTheme::install() { Theme::Applier::set(std::make_shared<DesktopTheme>()); }

void DesktopTheme::apply()
{
    using namespace Theme;
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        switch (appearance()) {
        case AppAppearance::automatic: QApplication::setPalette(app->style()->standardPalette()); break;
        case AppAppearance::light: QApplication::setPalette(QPalette(QColor(239, 239, 239))); break;
        case AppAppearance::dark: QApplication::setPalette(darkPalette()); break;
        }
    }
    Q_EMIT Notifier::shared().themeChanged();
}
