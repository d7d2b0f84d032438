#include "menus/drawing_kit.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

namespace Draw {

QPointF fromYUp(QPointF point, double height) { return {point.x(), height - point.y()}; }

QRectF fromYUp(const QRectF& rect, double height)
{
    return QRectF(rect.x(), height - rect.y() - rect.height(), rect.width(), rect.height());
}

QPointF offsetFromYUp(QPointF offset) { return {offset.x(), -offset.y()}; }

QPointF polarFromYUp(QPointF centre, double radius, double degrees, double height)
{
    const double a = degrees * M_PI / 180;
    return fromYUp(centre + QPointF(radius * std::cos(a), radius * std::sin(a)), height);
}

void flipToYUp(QPainter& painter, double height)
{
    painter.translate(0, height);
    painter.scale(1, -1);
}

QPointF vectorFromYUp(QPointF vector) { return {vector.x(), -vector.y()}; }

void textSpaceAt(QPainter& painter, QPointF point)
{
    painter.translate(point);
    painter.scale(1, -1);
}

QFont font(double size, QFont::Weight weight)
{
    QFont result(QStringLiteral("Inter"));
    result.setPointSizeF(size * 72 / 96);
    result.setWeight(weight);
    result.setStyleStrategy(QFont::PreferAntialias);
    return result;
}

double clamp01(double value) { return std::clamp(value, 0.0, 1.0); }

QColor blended(const QColor& from, double fraction, const QColor& to)
{
    const float f = float(clamp01(fraction));
    auto mix = [f](float a, float b) {
        return a + (b - a) * f;
    };
    const auto a = from.toRgb();
    const auto b = to.toRgb();
    return QColor::fromRgbF(
        mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()), mix(a.blueF(), b.blueF()), mix(a.alphaF(), b.alphaF()));
}

QColor withAlpha(QColor colour, double alpha)
{
    colour.setAlphaF(float(clamp01(alpha)));
    return colour;
}

double easeOutCubic(double t)
{
    const double u = 1 - clamp01(t);
    return 1 - u * u * u;
}

double easeOutBack(double t)
{
    const double u = clamp01(t) - 1;
    return 1 + 2.35 * u * u * u + 1.35 * u * u;
}

namespace {

// Blurs the image's alpha with three box passes (close to a Gaussian) and fills it with
// `colour` at the blurred coverage. One running sum per row or column keeps each pass linear in
// the number of pixels whatever the radius.
void blurAndTint(QImage& image, int radius, const QColor& colour)
{
    const int w = image.width(), h = image.height();
    const qsizetype stride = image.bytesPerLine() / 4;
    auto* pixels = reinterpret_cast<QRgb*>(image.bits());
    thread_local std::vector<int> alpha;
    thread_local std::vector<int> line;
    alpha.resize(size_t(w) * size_t(h));
    line.resize(size_t(std::max(w, h)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            alpha[size_t(y) * size_t(w) + size_t(x)] = qAlpha(pixels[y * stride + x]);
    auto pass = [&](int count, int length, size_t step, size_t next) {
        const int window = 2 * radius + 1;
        for (int i = 0; i < count; ++i) {
            int* start = alpha.data() + size_t(i) * next;
            for (int k = 0; k < length; ++k)
                line[size_t(k)] = start[size_t(k) * step];
            int sum = 0;
            for (int k = 0; k <= std::min(radius, length - 1); ++k)
                sum += line[size_t(k)];
            for (int k = 0; k < length; ++k) {
                start[size_t(k) * step] = sum / window;
                const int leaving = k - radius, entering = k + radius + 1;
                if (leaving >= 0)
                    sum -= line[size_t(leaving)];
                if (entering < length)
                    sum += line[size_t(entering)];
            }
        }
    };
    if (radius >= 1)
        for (int repeat = 0; repeat < 3; ++repeat) {
            pass(h, w, 1, size_t(w));
            pass(w, h, size_t(w), 1);
        }
    const QRgb tint = colour.rgba();
    const int r = qRed(tint), g = qGreen(tint), b = qBlue(tint), a = qAlpha(tint);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int coverage = alpha[size_t(y) * size_t(w) + size_t(x)] * a / 255;
            pixels[y * stride + x] = qRgba(r * coverage / 255, g * coverage / 255, b * coverage / 255, coverage);
        }
}

// Scratch images per thread and nesting depth (a layer may hold shadowed shapes), grown when
// needed and never shrunk, so painting a frame allocates nothing once warm.
struct ScratchSlot {
    explicit ScratchSlot(QSize size)
    {
        thread_local std::vector<QImage> images;
        thread_local size_t depth = 0;
        depth_ = &depth;
        if (images.size() <= depth)
            images.resize(depth + 1);
        QImage& image = images[depth++];
        if (image.width() < size.width() || image.height() < size.height())
            image = QImage(size.expandedTo(image.size()), QImage::Format_ARGB32_Premultiplied);
        // A view of the top-left corner with the buffer's own stride: no copy.
        view = QImage(image.bits(), size.width(), size.height(), image.bytesPerLine(), image.format());
        view.fill(Qt::transparent);
    }
    ~ScratchSlot() { --*depth_; }
    ScratchSlot(const ScratchSlot&) = delete;
    ScratchSlot& operator=(const ScratchSlot&) = delete;

    QImage view;

private:
    size_t* depth_;
};

// Draws `draw` into `slot`, which covers `device` (device pixels) at 1/`reduction` of the
// resolution.
void paintInto(ScratchSlot& slot, const QPainter& painter, const QRect& device, int reduction,
    const std::function<void(QPainter&)>& draw)
{
    QPainter inner(&slot.view);
    inner.setRenderHints(painter.renderHints());
    QTransform toScratch = painter.deviceTransform();
    toScratch *= QTransform::fromTranslate(-device.x(), -device.y());
    toScratch *= QTransform::fromScale(1.0 / reduction, 1.0 / reduction);
    inner.setTransform(toScratch);
    draw(inner);
}

QSize reducedSize(const QRect& device, int reduction)
{
    return {(device.width() + reduction - 1) / reduction, (device.height() + reduction - 1) / reduction};
}
}

namespace {

// A blurred shadow of a shape drawn upright at a given scale. A Gaussian blur commutes with
// turns, so the same image serves every angle a card takes while the fan moves.
struct CachedShadow {
    QImage image;
    QRectF local;  // where the image goes, in the shape's own coordinates
};

const CachedShadow& cachedShadow(quint64 key, const QRectF& bounds, const Draw::Shadow& shadow, double scale,
    const std::function<void(QPainter&)>& draw)
{
    struct Key {
        quint64 shape;
        double blur, scale;
        QRgb colour;
        bool operator<(const Key& o) const
        {
            return std::tie(shape, blur, scale, colour) < std::tie(o.shape, o.blur, o.scale, o.colour);
        }
    };
    thread_local std::map<Key, CachedShadow> cache;
    const Key wanted{key, shadow.blur, scale, shadow.colour.rgba()};
    if (auto found = cache.find(wanted); found != cache.end())
        return found->second;
    if (cache.size() > 64)
        cache.clear();

    const double margin = (std::ceil(shadow.blur * 1.5) + 2) / scale;
    const QRectF local = bounds.adjusted(-margin, -margin, margin, margin);
    const int reduction = std::clamp(int(shadow.blur / 3), 1, 4);
    const double pixels = scale / reduction;
    QImage image(std::max(1, int(std::ceil(local.width() * pixels))),
        std::max(1, int(std::ceil(local.height() * pixels))), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter inner(&image);
        inner.setRenderHint(QPainter::Antialiasing);
        inner.scale(pixels, pixels);
        inner.translate(-local.topLeft());
        draw(inner);
    }
    blurAndTint(image, int(std::lround(shadow.blur / 2 / reduction)), shadow.colour);
    return cache.emplace(wanted, CachedShadow{image, QRectF(local.topLeft(), QSizeF(image.size()) / pixels)})
        .first->second;
}

}

void withShadow(QPainter& painter, const QRectF& bounds, const Shadow& shadow,
    const std::function<void(QPainter&)>& draw, quint64 shapeKey)
{
    if (shadow.colour.alpha() > 0 && shapeKey != 0) {
        const QTransform device = painter.deviceTransform();
        const double scale = std::sqrt(std::abs(device.determinant()));
        const auto& cached = cachedShadow(shapeKey, bounds, shadow, scale, draw);
        painter.save();
        // The offset is in device space: it does not turn with the shape.
        painter.setTransform(device * QTransform::fromTranslate(shadow.offset.x(), shadow.offset.y()));
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(cached.local, cached.image);
        painter.restore();
    } else if (shadow.colour.alpha() > 0) {
        const int margin = int(std::ceil(shadow.blur * 1.5)) + 2;
        const QRect device
            = painter.deviceTransform().mapRect(bounds).toAlignedRect().adjusted(-margin, -margin, margin, margin);
        // A shadow has no fine detail: blur radii of a few pixels and more are done at a fraction
        // of the resolution and scaled back up smoothly.
        const int reduction = std::clamp(int(shadow.blur / 3), 1, 4);
        ScratchSlot slot(reducedSize(device, reduction));
        paintInto(slot, painter, device, reduction, draw);
        QImage& part = slot.view;
        blurAndTint(part, int(std::lround(shadow.blur / 2 / reduction)), shadow.colour);
        painter.save();
        painter.resetTransform();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(QPointF(device.topLeft()) + shadow.offset, QSizeF(part.size() * reduction)), part);
        painter.restore();
    }
    draw(painter);
}

void cached(QPainter& painter, const QRectF& bounds, const QByteArray& key, const std::function<void(QPainter&)>& draw)
{
    // The larger of the two axis scales keeps a squeezed shape sharp along its long side; steps of
    // 1/16 keep a shape that grows smoothly from being made afresh at every frame.
    const QTransform device = painter.deviceTransform();
    const double scale = std::max(std::hypot(device.m11(), device.m12()), std::hypot(device.m21(), device.m22()));
    const double stepped = std::max(1.0 / 16, std::ceil(scale * 16) / 16);
    thread_local std::map<std::pair<QByteArray, double>, QImage> images;
    auto found = images.find({key, stepped});
    if (found == images.end()) {
        if (images.size() > 256)
            images.clear();
        QImage image(std::max(1, int(std::ceil(bounds.width() * stepped))),
            std::max(1, int(std::ceil(bounds.height() * stepped))), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter inner(&image);
            inner.setRenderHints(painter.renderHints());
            inner.scale(stepped, stepped);
            inner.translate(-bounds.topLeft());
            draw(inner);
        }
        found = images.emplace(std::pair{key, stepped}, std::move(image)).first;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(bounds.topLeft(), QSizeF(found->second.size()) / stepped), found->second);
    painter.restore();
}

void layer(QPainter& painter, const QRectF& bounds, double opacity, const std::function<void(QPainter&)>& draw)
{
    if (opacity >= 1) {
        draw(painter);
        return;
    }
    if (opacity <= 0)
        return;
    const QRect device = painter.deviceTransform().mapRect(bounds).toAlignedRect().adjusted(-1, -1, 1, 1);
    ScratchSlot slot(device.size());
    paintInto(slot, painter, device, 1, draw);
    painter.save();
    painter.resetTransform();
    painter.setOpacity(painter.opacity() * opacity);
    painter.drawImage(device.topLeft(), slot.view);
    painter.restore();
}

QFont fittedFont(const QString& text, QFont font, double width, double minimumSize)
{
    while (font.pointSizeF() > minimumSize && QFontMetricsF(font).horizontalAdvance(text) > width)
        font.setPointSizeF(std::max(minimumSize, font.pointSizeF() - 0.5));
    return font;
}

QString elided(const QString& text, const QFont& font, double width)
{
    return QFontMetricsF(font).elidedText(text, Qt::ElideRight, width);
}

QStringList wrapped(const QString& text, const QFont& font, double width, int maxLines)
{
    const QFontMetricsF metrics(font);
    QStringList lines;
    QString current;
    const auto words = text.split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString candidate = current.isEmpty() ? words[i] : current + u' ' + words[i];
        if (current.isEmpty() || metrics.horizontalAdvance(candidate) <= width) {
            current = candidate;
            continue;
        }
        if (int(lines.size()) == maxLines - 1) {
            current = candidate;
            for (++i; i < words.size(); ++i)
                current += u' ' + words[i];
            break;
        }
        lines.push_back(current);
        current = words[i];
    }
    if (!current.isEmpty())
        lines.push_back(current);
    if (!lines.isEmpty())
        lines.back() = metrics.elidedText(lines.back(), Qt::ElideRight, width);
    return lines;
}

}
