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

double textContrast(const QImage& image, QRect box)
{
    box &= image.rect();
    std::map<QRgb, int> counts;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000];
    if (counts.empty())
        return 0;
    const auto background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
        return a.second < b.second;
    })->first;
    double best = 1;
    for (const auto& [rgb, count] : counts)
        best = std::max(best, contrast(QColor::fromRgb(rgb), QColor::fromRgb(background)));
    return best;
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
        // Those a scroll area shows whole; not the hints drawn faint on purpose (the third level
        // of text, a third opaque or less).
        if (label->visibleRegion().boundingRect() != label->rect()
            || label->palette().color(label->foregroundRole()).alphaF() < 0.4)
            continue;
        ++checked;
        const QRect box(label->mapTo(&window, QPoint(0, 0)), label->size());
        EXPECT_GE(textContrast(image, box), 3) << where << ": \"" << label->text().toStdString() << "\"";
    }
    return checked;
}

}
