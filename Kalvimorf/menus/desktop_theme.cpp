#include "menus/desktop_theme.h"

#include "menus/palette.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEvent>
#include <QPalette>
#include <QStyle>
#include <QWidget>

#include <utility>

namespace Theme {

namespace {

std::optional<bool> schemeIsDark(QVariant value)
{
    // The value comes wrapped in one or two variants depending on the portal's version.
    while (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok || scheme == 0)
        return std::nullopt;
    return scheme == 1;
}

constexpr auto portalService = "org.freedesktop.portal.Desktop";
constexpr auto portalPath = "/org/freedesktop/portal/desktop";
constexpr auto portalInterface = "org.freedesktop.portal.Settings";

bool applyingPalette = false;

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

void Notifier::watchPortal(QDBusConnection bus)
{
    if (!bus.isConnected())
        return;
    bus.connect(
        portalService, portalPath, portalInterface, "SettingChanged", this, SLOT(portalSettingChanged(QDBusMessage)));
    // Asked once: asking the bus at every paint would cost a round trip. ReadOne is the second
    // version's call; portals older than that answer only Read.
    for (const char* method : {"ReadOne", "Read"}) {
        auto call = QDBusMessage::createMethodCall(portalService, portalPath, portalInterface, method);
        call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
        const QDBusMessage reply = bus.call(call, QDBus::Block, 300);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            portalDark_ = schemeIsDark(reply.arguments().front());
            break;
        }
        // Nobody there, or no answer in time: the older call would fare no better.
        if (reply.errorName() != "org.freedesktop.DBus.Error.UnknownMethod")
            break;
    }
    if (!watching_ && qApp) {
        qApp->installEventFilter(this);
        watching_ = true;
    }
}

void Notifier::portalSettingChanged(const QDBusMessage& message)
{
    const auto arguments = message.arguments();
    if (arguments.size() != 3 || arguments[0].toString() != "org.freedesktop.appearance"
        || arguments[1].toString() != "color-scheme")
        return;
    const auto dark = schemeIsDark(arguments[2]);
    if (dark == portalDark_)
        return;
    portalDark_ = dark;
    Q_EMIT desktopSchemeChanged();
    if (appearance() != AppAppearance::automatic)
        return;
    // The applier recolours the application's palette first, then tells every surface.
    if (Applier::shared())
        Theme::apply();
    else
        Q_EMIT themeChanged();
}

void Notifier::setDesktopPaletteDark(bool dark)
{
    if (std::exchange(desktopPaletteDark_, dark) != dark)
        Q_EMIT desktopSchemeChanged();
}

bool Notifier::eventFilter(QObject* watched, QEvent* event)
{
    // The platform theme handed over a new palette: the desktop changed its colours.
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && !DesktopTheme::applying()
        && appearance() == AppAppearance::automatic) {
        setDesktopPaletteDark(QGuiApplication::palette().color(QPalette::Window).lightnessF() < 0.5);
        Q_EMIT themeChanged();
    }
    return QObject::eventFilter(watched, event);
}

bool isDark(const QWidget* widget)
{
    switch (appearance()) {
    case AppAppearance::light: return false;
    case AppAppearance::dark: return true;
    case AppAppearance::automatic: break;
    }
    // The window's colour, not the widget's: a part drawn without a background of its own (a
    // scroll area's viewport made transparent, say) says nothing about what shows behind it.
    if (widget)
        if (const QColor window = widget->window()->palette().color(QPalette::Window); window.alpha() == 255)
            return window.lightnessF() < 0.5;
    if (auto dark = Notifier::shared().portalPrefersDark())
        return *dark;
    const QPalette palette = qApp ? QGuiApplication::palette() : QPalette();
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

bool desktopIsDark()
{
    if (auto dark = Notifier::shared().portalPrefersDark())
        return *dark;
    return Notifier::shared().desktopPaletteDark();
}

}

void DesktopTheme::install()
{
    Theme::Applier::set(std::make_shared<DesktopTheme>());
    Theme::Notifier::shared().watchPortal(QDBusConnection::sessionBus());
}

bool DesktopTheme::applying() { return Theme::applyingPalette; }

void DesktopTheme::apply()
{
    using namespace Theme;
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        Theme::applyingPalette = true;
        // Back to the desktop's own palette first (an empty palette hands the choice back to the
        // platform theme, which then keeps it current), which is how the desktop's darkness is
        // known whatever the appearance.
        QApplication::setPalette(QPalette());
        const bool paletteDark = QApplication::palette().color(QPalette::Window).lightnessF() < 0.5;
        // Empty: the platform's, which it keeps current.
        QPalette chosen;
        switch (appearance()) {
        case AppAppearance::automatic:
            // Made dark only where the portal prefers dark and the platform theme did not follow it.
            if (Notifier::shared().portalPrefersDark() == true && !paletteDark)
                chosen = darkPalette();
            break;
        case AppAppearance::light: chosen = QPalette(QColor(239, 239, 239)); break;
        case AppAppearance::dark: chosen = darkPalette(); break;
        }
        QApplication::setPalette(chosen);
        // Selections take the theme's colour in every window: a combo box's list and the tool
        // panel are windows of their own, which the tint a settings window gives itself never
        // reaches. Only this role is set, so the platform keeps the others current.
        chosen.setColor(QPalette::Highlight, Theme::palette(isDark(), current()).metal(WheelMode::convert));
        QApplication::setPalette(chosen);
        Theme::applyingPalette = false;
        Notifier::shared().setDesktopPaletteDark(paletteDark);
    }
    Q_EMIT Notifier::shared().themeChanged();
}
