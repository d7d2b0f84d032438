#include "menus/theme_preview.h"

#include "menus/card_fan_drawing.h"
#include "menus/desktop_theme.h"
#include "menus/drawing_kit.h"
#include "menus/wheel_controller.h"

#include <QEasingCurve>
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <QVariantAnimation>

#include <algorithm>
#include <map>

namespace WheelSnapshot {

std::string key(WheelMode mode, AppTheme theme, bool dark)
{
    return WheelModes::rawValue(mode) + "-" + Theme::rawValue(theme) + "-" + (dark ? "true" : "false");
}

QImage image(WheelMode mode, AppTheme theme, bool dark)
{
    static std::map<std::string, QImage> cache;
    const auto name = key(mode, theme, dark);
    if (auto found = cache.find(name); found != cache.end())
        return found->second;

    // A video's cards: every mode has at least three, so every picture shows its third raised.
    const WheelEntry::Paths sample = {"/tmp/exemplo.mov"};
    const auto offer = WheelController::entries(mode, sample);
    FanState fan;
    fan.cards = offer.entries;
    fan.title = WheelController::title(mode);
    fan.subtitle = "exemplo.mov";
    fan.mode = mode;
    fan.emptyMessage = offer.empty;
    const int count = int(fan.cards.size());
    fan.highlighted = count >= 2 ? std::min(count, 3) - 1 : 0;
    for (int i = 0; i < count; ++i) {
        const double lift = i == *fan.highlighted ? 1 : 0;
        fan.lift.push_back({lift, lift, 0, 420, 32});
    }
    QImage whole(int(fan.size.width()), int(fan.size.height()), QImage::Format_ARGB32_Premultiplied);
    whole.fill(Qt::transparent);
    {
        QPainter painter(&whole);
        paintFan(painter, fan, 0, Theme::palette(dark, theme));
    }
    // The cards and the title, without the empty margins: x 62–598 and, measured from the top,
    // 4–330 of the 660 × 450 fan.
    QImage picture = whole.copy(62, 4, 536, 326);
    cache.emplace(name, picture);
    return picture;
}

}

ThemePreview::ThemePreview(AppTheme theme, AppAppearance appearance, QWidget* parent)
    : QWidget(parent), theme_(theme), appearance_(appearance), fade_(new QVariantAnimation(this))
{
    shown_ = from_ = look();
    fade_->setStartValue(0.0);
    fade_->setEndValue(fadeSeconds);
    fade_->setDuration(int(fadeSeconds * 1000));
    connect(fade_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        elapsed_ = value.toDouble();
        update();
    });
    connect(&Theme::Notifier::shared(), &Theme::Notifier::themeChanged, this, &ThemePreview::follow);
}

void ThemePreview::setTheme(AppTheme theme)
{
    theme_ = theme;
    follow();
}

void ThemePreview::setAppearance(AppAppearance appearance)
{
    appearance_ = appearance;
    follow();
}

void ThemePreview::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        follow();
}

void ThemePreview::follow()
{
    const Look now = look();
    if (now == shown_) {
        update();
        return;
    }
    // A change during a fade starts the next one from what was last asked for.
    from_ = shown_;
    shown_ = now;
    elapsed_ = 0;
    fade_->stop();
    fade_->start();
    update();
}

QSize ThemePreview::sizeHint() const { return {3 * 160 + 2 * 6 + 20, 97 + 4 + 16 + 20}; }

bool ThemePreview::dark() const
{
    switch (appearance_) {
    case AppAppearance::light: return false;
    case AppAppearance::dark: return true;
    case AppAppearance::automatic: break;
    }
    return palette().color(QPalette::Window).lightnessF() < 0.5;
}

void ThemePreview::paint(QPainter& painter, const QRectF& bounds, AppTheme theme, bool dark)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QLinearGradient gradient(bounds.topLeft(), bounds.bottomRight());
    gradient.setColorAt(0, dark ? QColor::fromRgbF(0.13f, 0.16f, 0.27f) : QColor::fromRgbF(0.62f, 0.72f, 0.92f));
    gradient.setColorAt(1, dark ? QColor::fromRgbF(0.30f, 0.20f, 0.24f) : QColor::fromRgbF(0.96f, 0.78f, 0.70f));
    QPainterPath card;
    card.addRoundedRect(bounds, 10, 10);
    painter.fillPath(card, gradient);

    const QRectF inside = bounds.adjusted(10, 10, -10, -10);
    const QFont font = Draw::font(11, QFont::Medium);
    const double titleHeight = 16;
    const double column = (inside.width() - 2 * 6) / 3;
    const double pictureHeight = std::min(column * 326 / 536, inside.height() - titleHeight - 4);
    const double pictureWidth = pictureHeight * 536 / 326;
    const WheelMode modes[] = {WheelMode::convert, WheelMode::tools, WheelMode::actions};
    for (int i = 0; i < 3; ++i) {
        const double x = inside.left() + i * (column + 6);
        const QRectF picture(x + (column - pictureWidth) / 2, inside.top(), pictureWidth, pictureHeight);
        painter.drawImage(picture, WheelSnapshot::image(modes[i], theme, dark));
        painter.setFont(font);
        painter.setPen(dark ? QColor::fromRgbF(1, 1, 1, 0.85f) : QColor::fromRgbF(0, 0, 0, 0.7f));
        painter.drawText(QRectF(x, picture.bottom() + 4, column, titleHeight), Qt::AlignHCenter | Qt::AlignTop,
            QString::fromStdString(WheelController::title(modes[i])));
    }
    painter.restore();
}

void ThemePreview::paint(QPainter& painter, const QRectF& bounds, Look from, Look to, double elapsed)
{
    const double t
        = QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(std::clamp(elapsed / fadeSeconds, 0.0, 1.0));
    if (t < 1 && !(from == to)) {
        paint(painter, bounds, from.theme, from.dark);
        painter.save();
        painter.setOpacity(t);
        paint(painter, bounds, to.theme, to.dark);
        painter.restore();
        return;
    }
    paint(painter, bounds, to.theme, to.dark);
}

void ThemePreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, rect(), from_, shown_, elapsed_);
}
