#include "render_modes.h"

#include "cli.h"
#include "menus/magic_fireworks.h"
#include "menus/palette.h"
#include "menus/status_icon.h"

#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

namespace RenderModes {

namespace {

// The whole word must be a number; anything else counts as absent.
std::optional<double> number(const std::string& word)
{
    double value = 0;
    const auto* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc() || stop != end || word.empty())
        return std::nullopt;
    return value;
}

bool writePNG(const QImage& image, const std::string& path, QString* reason = nullptr)
{
    QImageWriter writer(QString::fromStdString(path), "png");
    if (writer.write(image))
        return true;
    if (reason)
        *reason = writer.errorString();
    return false;
}

}

void status()
{
    Cli::makeApplication(true);
    const auto& args = Cli::args;
    const auto progress = args.size() >= 4 ? number(args[3]) : std::nullopt;
    constexpr double pixelsPerPoint = 4;
    QImage canvas(int(StatusIcon::points * pixelsPerPoint), int(StatusIcon::points * pixelsPerPoint),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        // The icon cuts holes into itself, so it is drawn on its own before it meets the white.
        painter.drawImage(0, 0, StatusIcon::image(progress, pixelsPerPoint));
    }
    QString reason;
    if (!writePNG(canvas, args[2], &reason)) {
        std::fprintf(stderr, "erro: %s\n", reason.toLocal8Bit().constData());
        Cli::exitNow(1);
    }
    Cli::exitNow(0);
}

void burst()
{
    Cli::makeApplication(true);
    const std::string prefix = Cli::args[2];
    constexpr double scale = 2;
    const QSizeF canvas(320, 320);
    const double times[] = {0.08, 0.2, 0.35, 0.55, 0.75};
    for (int k = 0; k < 5; ++k) {
        QImage image(int(canvas.width() * scale), int(canvas.height() * scale), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            painter.scale(scale, scale);
            MagicFireworks::paint(painter, canvas, times[k] * 2.6, Theme::standardBlue());
        }
        // A frame that cannot be written is skipped; the others still come.
        writePNG(image, prefix + std::to_string(k) + ".png");
    }
    Cli::exitNow(0);
}

}
