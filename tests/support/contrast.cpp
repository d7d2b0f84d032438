#include "support/contrast.h"

#include <QCoreApplication>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace TestSupport {

namespace {

double luminance(const QColor& colour)
{
    auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

}

double contrast(const QColor& a, const QColor& b)
{
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QColor over(const QColor& top, const QColor& below)
{
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + below.redF() * (1 - a)),
        float(top.greenF() * a + below.greenF() * (1 - a)), float(top.blueF() * a + below.blueF() * (1 - a)));
}

namespace {

// The commonest colour in `box` (made opaque), and how often each one shows there.
std::pair<QRgb, std::map<QRgb, int>> commonest(const QImage& image, QRect box)
{
    std::map<QRgb, int> counts;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000];
    if (counts.empty())
        return {0, counts};
    const auto background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
        return a.second < b.second;
    })->first;
    return {background, std::move(counts)};
}

}

double textContrast(const QImage& image, QRect box)
{
    box &= image.rect();
    const auto [background, counts] = commonest(image, box);
    double best = counts.empty() ? 0 : 1;
    for (const auto& [rgb, count] : counts)
        best = std::max(best, contrast(QColor::fromRgb(rgb), QColor::fromRgb(background)));
    return best;
}

double addedContrast(const QImage& with, const QImage& without, QRect box)
{
    box &= with.rect() & without.rect();
    double best = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (const QRgb a = with.pixel(x, y) | 0xff000000, b = without.pixel(x, y) | 0xff000000; a != b)
                best = std::max(best, contrast(QColor::fromRgb(a), QColor::fromRgb(b)));
    return best;
}

std::vector<QRect> textLines(const QImage& image, QRect box)
{
    box &= image.rect();
    const QRgb background = commonest(image, box).first;
    std::vector<QRect> lines;
    int top = -1;
    for (int y = box.top(); y <= box.bottom() + 1; ++y) {
        bool ink = false;
        for (int x = box.left(); y <= box.bottom() && x <= box.right() && !ink; ++x)
            ink = (image.pixel(x, y) | 0xff000000) != background;
        if (ink && top < 0)
            top = y;
        if (!ink && top >= 0) {
            lines.emplace_back(box.left(), top, box.width(), y - top);
            top = -1;
        }
    }
    return lines;
}

QImage rendered(QWidget& window)
{
    window.show();
    QCoreApplication::processEvents();
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(window.palette().color(QPalette::Window));
    window.render(&image);
    return image;
}

int expectReadableLabels(QWidget& window, const std::string& where)
{
    const QImage image = rendered(window);
    int checked = 0;
    for (auto* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window) || label->text().trimmed().isEmpty())
            continue;
        // Those a scroll area shows whole. Hints drawn faint on purpose count too: faint is the
        // least ink that still reads.
        if (label->visibleRegion().boundingRect() != label->rect())
            continue;
        ++checked;
        const QRect box(label->mapTo(&window, QPoint(0, 0)), label->size());
        EXPECT_GE(textContrast(image, box), 3) << where << ": \"" << label->text().toStdString() << "\"";
    }
    return checked;
}

}
