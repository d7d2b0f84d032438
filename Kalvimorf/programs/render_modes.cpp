#include "programs/render_modes.h"

#include "programs/cli.h"
#include "core/base/catalog.h"
#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"
#include "core/base/quality.h"
#include "core/jobs/job_store.h"
#include "core/state/media_clock.h"
#include "core/state/settings_model.h"
#include "menus/card_fan.h"
#include "menus/desktop_theme.h"
#include "menus/magic_fireworks.h"
#include "menus/palette.h"
#include "menus/status_icon.h"
#include "menus/wheel_controller.h"
#include "menus/wheel_view.h"
#include "settings/settings_window.h"
#include "settings/updates.h"
#include "shell/app_model.h"
#include "shell/hud_view.h"
#include "shell/main_view.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>

namespace RenderModes {

namespace {

// The whole word must be a number of type T; anything else counts as absent.
template <typename T> std::optional<T> parsed(const std::string& word)
{
    T value = 0;
    const auto* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    if (error != std::errc() || stop != end || word.empty())
        return std::nullopt;
    return value;
}

// The wheel configured for the sample file of the given extension.
WheelState sampleWheel(WheelMode mode, const std::string& ext, std::optional<int> pager)
{
    const WheelEntry::Paths sample{std::filesystem::path("/tmp/exemplo." + ext)};
    auto [entries, empty] = WheelController::entries(mode, sample);
    WheelState state;
    state.configure(std::move(entries), WheelController::title(mode), Catalog::describe(sample), mode, empty, pager);
    return state;
}

QImage transparentCanvas(double side)
{
    QImage image(static_cast<int>(side), static_cast<int>(side), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Encoded in memory, then written to the named file (replacing it: these are renders the caller
// names); a failure is the file system's error, with its path.
void writePNGFile(const QImage& image, const std::string& path)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(image))
        throw ConversionError::writeFailed();
    FileSafety::Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file)
        FileSafety::throwErrno(path);
    FileSafety::writeAll(file.get(), std::string_view(bytes.constData(), size_t(bytes.size())), path);
}

bool writePNG(const QImage& image, const std::string& path)
{
    try {
        writePNGFile(image, path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Writes the image or ends the run with the reason, said as the command line says every error.
void writeOrFail(const QImage& image, const std::string& path)
{
    try {
        writePNGFile(image, path);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "erro: %s\n", describeError(error).c_str());
        Cli::exitNow(Cli::ExitCode::failed);
    }
}

// At scale 1, through the same painting as on screen.
void renderFan(const CardFan& fan, const std::string& path)
{
    QImage image(fan.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        fan.paintInto(painter);
    }
    writeOrFail(image, path);
}

}

bool fanTaken() { return WheelModes::fromRaw(Cli::args[2]).has_value(); }

bool qualityTaken() { return QualityGroups::of(Cli::args[2]).has_value(); }

void status()
{
    Cli::makeApplication(true);
    const auto& args = Cli::args;
    const auto progress = args.size() >= 4 ? parsed<double>(args[3]) : std::nullopt;
    constexpr double pixelsPerPoint = 4;
    QImage canvas(int(StatusIcon::points * pixelsPerPoint), int(StatusIcon::points * pixelsPerPoint),
        QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        // The icon cuts holes into itself, so it is drawn on its own before it meets the white.
        painter.drawImage(0, 0, StatusIcon::image(progress, pixelsPerPoint));
    }
    writeOrFail(canvas, args[2]);
    Cli::exitNow(Cli::ExitCode::done);
}

bool takesMode(size_t index) { return Cli::args.size() > index && WheelModes::fromRaw(Cli::args[index]).has_value(); }

void wheel()
{
    Cli::makeApplication(true);
    const auto& args = Cli::args;
    const auto mode = *WheelModes::fromRaw(args[2]);
    std::optional<int> pager;
    if (!Prefs::separateKeys())
        pager = int(mode);
    auto state = sampleWheel(mode, args[3], pager);
    state.settleOn(1);
    QImage image = transparentCanvas(WheelDrawing::side);
    {
        QPainter painter(&image);
        WheelDrawing::paint(painter, state, MediaClock::now(), Theme::palette(Theme::isDark(), Theme::current()));
    }
    writeOrFail(image, args[4]);
    Cli::exitNow(Cli::ExitCode::done);
}

void wheelAnimation()
{
    Cli::makeApplication(true);
    const auto& args = Cli::args;
    auto state = sampleWheel(*WheelModes::fromRaw(args[2]), args[3], std::nullopt);
    const auto palette = Theme::palette(Theme::isDark(), Theme::current());
    const double ages[] = {0.03, 0.08, 0.14, 0.22, 0.32, 1.0};
    for (int k = 0; k < 6; ++k) {
        if (k == 5)
            state.settleOn(2);
        // A fixed moment: an age taken from the machine's clock rounds differently with its
        // uptime, and the frames would differ by a pixel from run to run.
        const double now = 1000;
        state.shownAt = now - ages[k];
        QImage image = transparentCanvas(WheelDrawing::side);
        {
            QPainter painter(&image);
            WheelDrawing::paint(painter, state, now, palette);
        }
        writeOrFail(image, args[4] + std::to_string(k) + ".png");
    }
    Cli::exitNow(Cli::ExitCode::done);
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
    Cli::exitNow(Cli::ExitCode::done);
}

void fan()
{
    Cli::makeApplication(true);
    const auto& args = Cli::args;
    const auto mode = *WheelModes::fromRaw(args[2]);
    const WheelEntry::Paths sample = {"/tmp/exemplo." + args[3]};
    const auto offer = WheelController::entries(mode, sample);
    CardFan fan;
    fan.configure(
        offer.entries, WheelController::title(mode), Catalog::describe(sample), mode, offer.empty, std::nullopt);
    const auto index = args.size() >= 6 ? parsed<int>(args[5]) : std::nullopt;
    if (args.size() >= 7)
        fan.setOpensDown(args[6] == "baixo");
    if (index && *index >= 0)
        fan.debugHighlight(*index);
    if (args.size() >= 8 && args[6] == "pick" && index)
        if (const auto t = parsed<double>(args[7]))
            fan.debugPick(*index, *t);
    renderFan(fan, args[4]);
    Cli::exitNow(Cli::ExitCode::done);
}

void quality()
{
    Cli::makeApplication(true);
    const auto& args = Cli::args;
    const auto group = *QualityGroups::of(args[2]);
    const auto saved = Quality::saved(group);
    CardFan fan;
    fan.configure(WheelController::qualityEntries(group, saved), "Qualidade",
        QString::fromStdString(args[2]).toUpper().toStdString(), WheelMode::convert, "", std::nullopt);
    fan.setNumbered(true);
    fan.debugHighlight(QualityLevels::order(saved));
    renderFan(fan, args[3]);
    Cli::exitNow(Cli::ExitCode::done);
}

namespace {

void mainWindowView()
{
    const auto& args = Cli::args;
    auto& model = AppModel::shared();
    if (args.size() >= 5)
        if (const auto mode = WheelModes::fromRaw(args[4]))
            model.setMode(*mode);
    if (args.size() >= 6)
        model.setFiles({std::filesystem::absolute(args[5])});
    MainView view(model);
    view.setAutoFillBackground(true);
    view.show();
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(view.palette().color(QPalette::Window));
    view.render(&image);
    writeOrFail(image, args[3]);
}

// The settings window at 540 × 600 on the page named by the fourth argument; a word that names
// no page shows "Geral".
void settingsView()
{
    const auto& args = Cli::args;
    auto& model = SettingsModel::shared();
    const auto& tabs = SettingsWindow::tabs();
    const auto asked = args.size() >= 5 ? QString::fromStdString(args[4]) : QString();
    model.setTab(std::find(tabs.begin(), tabs.end(), asked) != tabs.end() ? asked : tabs.front());
    SettingsWindow window(model, Updates::shared());
    window.resize(540, 600);
    window.show();
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(window.palette().color(QPalette::Window));
    window.render(&image);
    writeOrFail(image, args[3]);
}

void hudView(const std::string& path)
{
    Job running;
    running.sourceName = "entrevista.mov";
    running.target = "MP4";
    running.progress = 0.62;
    running.started = true;
    Job done;
    done.sourceName = "capa.heic";
    done.target = "PNG";
    done.state = Job::State::done("/tmp/capa.png");
    JobStore::shared().setJobs({running, done});
    const QSizeF size(HudView::width, 160);
    const bool dark = Theme::isDark();
    QImage image(size.toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(dark ? QColor(30, 30, 32) : QGuiApplication::palette().color(QPalette::Window));
    {
        QPainter painter(&image);
        HudView::paint(painter, JobStore::shared().jobs(), size, HudView::Colours::of(dark, Theme::current()),
            {MediaClock::now(), nullptr, std::nullopt});
    }
    writeOrFail(image, path);
}

}

void view()
{
    Cli::makeApplication(true);
    // The application's palette follows the chosen appearance, as in the desktop program.
    DesktopTheme().apply();
    const auto& args = Cli::args;
    if (args[2] == "hud")
        hudView(args[3]);
    else if (args[2] == "settings")
        settingsView();
    else
        mainWindowView();
    Cli::exitNow(Cli::ExitCode::done);
}
}
