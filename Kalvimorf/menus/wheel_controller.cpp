#include "menus/wheel_controller.h"

#include "core/base/catalog.h"
#include "core/base/file_safety.h"
#include "core/jobs/conversion_runner.h"
#include "core/state/chime.h"
#include "core/state/magic_burst.h"
#include "menus/file_action.h"
#include "menus/haptics.h"
#include "menus/menu_surface.h"
#include "menus/wheel_window.h"
#include "tools/tool_runner.h"

#include <QString>

#include <algorithm>

namespace {

std::string formatDetail(const OutputFormat& format)
{
    switch (format.action) {
    case FormatAction::mergePDF: return "Juntar tudo em um PDF";
    case FormatAction::extract: return "Extrair o conteúdo";
    case FormatAction::convert:
    case FormatAction::pack: return "Converter para " + format.label;
    }
    return "Converter para " + format.label;
}

}

WheelController::Entries WheelController::entries(WheelMode mode, const WheelEntry::Paths& files)
{
    Entries result;
    switch (mode) {
    case WheelMode::convert:
        if (const auto offer = Catalog::options(files))
            for (const auto& format : offer->formats)
                result.entries.push_back({format.label, formatDetail(format), QualityGroups::of(format.ext),
                    [format](const WheelEntry::Paths& dropped, QualityLevel level) {
                        ConversionRunner::shared().run(dropped, format, level);
                    },
                    [format](const WheelEntry::Paths& dropped) {
                        ConversionRunner::shared().run(dropped, format, std::nullopt);
                    }});
        result.empty = files.size() > 1 ? "Use arquivos do\nmesmo grupo" : "Sem conversões\npara este arquivo";
        break;
    case WheelMode::tools:
        for (auto tool : Tools::available(files))
            result.entries.push_back({Tools::label(tool), Tools::title(tool), std::nullopt, nullptr,
                [tool](const WheelEntry::Paths& dropped) {
                    ToolRunner::shared().start(tool, dropped);
                }});
        result.empty = "Sem ferramentas\npara esta seleção";
        break;
    case WheelMode::actions:
        for (auto action : FileActions::all())
            result.entries.push_back({FileActions::label(action), FileActions::detail(action), std::nullopt, nullptr,
                [action](const WheelEntry::Paths& dropped) {
                    FileActions::perform(action, dropped);
                }});
        break;
    }
    return result;
}

std::string WheelController::title(WheelMode mode)
{
    switch (mode) {
    case WheelMode::convert: return "Converter";
    case WheelMode::tools: return "Ferramentas";
    case WheelMode::actions: return "Ações";
    }
    return {};
}

std::vector<WheelEntry> WheelController::qualityEntries(
    QualityGroup group, QualityLevel saved, std::function<void(QualityLevel)> choose)
{
    auto upper = [](const std::string& text) {
        return QString::fromStdString(text).toUpper().toStdString();
    };
    std::vector<WheelEntry> cards;
    for (auto level : QualityLevels::all()) {
        const auto name = QualityLevels::displayName(level);
        const auto shortText = QualityGroups::shortText(group, level);
        cards.push_back({upper(name) + (shortText.empty() ? "" : " " + shortText),
            QualityGroups::label(group, level) + (level == saved ? "\n(padrão)" : ""), std::nullopt, nullptr,
            [choose, level](const WheelEntry::Paths&) {
                if (choose)
                    choose(level);
            }});
    }
    return cards;
}

QPointF WheelController::origin(
    QPointF point, QSizeF size, QPointF anchor, const std::vector<Screen>& screens, bool centred)
{
    // A screen holds its left and top edges but not its right and bottom ones, so a point on the
    // seam of two screens belongs to exactly one.
    const auto screen = std::find_if(screens.begin(), screens.end(), [point](const Screen& s) {
        return point.x() >= s.frame.left() && point.x() < s.frame.right() && point.y() >= s.frame.top()
            && point.y() < s.frame.bottom();
    });
    QPointF result = point - anchor;
    if (screen == screens.end())
        return result;
    const QRectF& visible = screen->available;
    if (centred)
        result = visible.center() - QPointF(size.width() / 2, size.height() / 2);
    constexpr double slack = 20;
    result.setX(std::min(std::max(result.x(), visible.left() - slack), visible.right() - size.width() + slack));
    result.setY(std::max(std::min(result.y(), visible.bottom() - size.height() + slack), visible.top() - slack));
    return result;
}

WheelController::WheelController(std::unique_ptr<Host> host)
    : host_(host ? std::move(host) : std::make_unique<WheelWindow>())
{
    hideTimer_.setSingleShot(true);
    hideTimer_.setTimerType(Qt::PreciseTimer);
    hideTimer_.setInterval(250);
    QObject::connect(&hideTimer_, &QTimer::timeout, [this] {
        hide();
    });
    for (auto style : {MenuStyle::wheel, MenuStyle::fan}) {
        auto& surface = host_->surface(style);
        // The controller owns the host and with it the surfaces, so these never outlive it.
        surface.onPick = [this](const WheelEntry::Paths& urls, const WheelEntry& entry) {
            picked(urls, entry);
        };
        // Only quality cards take clicks, and their own closures know the files.
        surface.onClick = [](const WheelEntry& entry) {
            if (entry.run)
                entry.run({});
        };
        surface.onCenterClick = [this] {
            hide();
        };
        surface.onFrame = nullptr;  // no blurred disc on X11: the wheel paints its own ground
    }
    host_->setKeyHandler([this](int key, const QString& text) {
        return handleKey(key, text);
    });
    useStyle(MenuStyle::wheel);
}

WheelController::~WheelController()
{
    *alive_ = false;
    host_->watchClicksOutside(nullptr);
}

MenuSurface& WheelController::view() { return host_->surface(style_); }

void WheelController::useStyle(MenuStyle style)
{
    host_->useSurface(style);
    style_ = style;
}

void WheelController::trigger(WheelMode mode, const WheelEntry::Paths& urls, QPointF point)
{
    const bool open = host_->panelVisible() && !view().isHiding();
    if (open && mode_ == mode)
        return hide();
    show(mode, urls, point, !open);
}

void WheelController::cycle(const WheelEntry::Paths& urls, QPointF point)
{
    std::vector<WheelMode> offered;
    for (auto mode : {WheelMode::convert, WheelMode::tools, WheelMode::actions})
        if (!entries(mode, urls).entries.empty())
            offered.push_back(mode);
    if (offered.empty())
        offered.push_back(WheelMode::convert);
    if (host_->panelVisible() && !view().isHiding() && mode_) {
        const auto shown = std::find(offered.begin(), offered.end(), *mode_);
        const auto next = shown == offered.end() || shown + 1 == offered.end() ? offered.front() : *(shown + 1);
        if (next != *mode_)
            show(next, urls, point, false);
        return;
    }
    show(offered.front(), urls, point, true);
}

WheelController::Entries WheelController::offered(WheelMode mode, const WheelEntry::Paths& files)
{
    // A dropped FIFO, device or dangling link gets no cards: the work would refuse it anyway,
    // or read it for ever. Folders are packed.
    const bool takesAll = std::all_of(files.begin(), files.end(), [](const auto& file) {
        std::error_code error;
        return FileSafety::isRegularFile(file) || std::filesystem::is_directory(file, error);
    });
    return entries(mode, takesAll || mode == WheelMode::actions ? files : WheelEntry::Paths{});
}

void WheelController::show(WheelMode mode, const WheelEntry::Paths& urls, QPointF point, bool reposition)
{
    hideTimer_.stop();
    if (choosingQuality_)
        return;
    mode_ = mode;
    if (reposition)
        useStyle(MenuStyles::current());
    host_->setFanNumbered(false);
    auto offer = offered(mode, urls);
    Haptics::open();
    std::optional<int> pager;
    if (!Prefs::separateKeys())
        pager = int(mode);
    view().configure(std::move(offer.entries), title(mode), Catalog::describe(urls), mode, offer.empty, pager);
    if (!reposition) {
        host_->raisePanel();
    } else {
        const QSizeF size = host_->surfaceSize(style_);
        const bool fan = style_ == MenuStyle::fan;
        if (fan)
            host_->setFanOpensDown(false);
        const bool centred = fan && FanPlacements::current() == FanPlacement::center;
        host_->placePanel({origin(point, size, view().anchor(), host_->screens(), centred), size});
        if (fan)
            Chime::card(Chime::Kind::shuffle);
    }
    view().animateIn();
}

void WheelController::picked(const WheelEntry::Paths& urls, const WheelEntry& entry)
{
    Haptics::pick();
    Chime::card(Chime::Kind::flip);
    MagicBurst::notePick(host_->pointer());
    if (Prefs::askQuality() && entry.quality && entry.runWithQuality)
        return showQuality(*entry.quality, entry.label, urls, entry.runWithQuality);
    host_->markFanPicked();
    hide();
    if (entry.run)
        entry.run(urls);
}

void WheelController::showQuality(QualityGroup group, const std::string& format, const WheelEntry::Paths& urls,
    std::function<void(const WheelEntry::Paths&, QualityLevel)> run)
{
    hideTimer_.stop();
    choosingQuality_ = true;
    const auto saved = Quality::saved(group);
    const auto& levels = QualityLevels::all();
    qualityDefault_ = int(std::find(levels.begin(), levels.end(), saved) - levels.begin());
    if (qualityDefault_ >= int(levels.size()))
        qualityDefault_ = 1;
    qualityUrls_ = urls;
    qualityRun_ = std::move(run);
    std::weak_ptr<bool> alive = alive_;
    qualityEntries_ = qualityEntries(group, saved, [this, alive, levels](QualityLevel level) {
        if (auto flag = alive.lock(); flag && *flag)
            chooseQuality(int(std::find(levels.begin(), levels.end(), level) - levels.begin()), level);
    });
    view().configure(qualityEntries_, "Qualidade", format, mode_.value_or(WheelMode::convert), "", std::nullopt);
    view().setInteractive(true);
    host_->setFanNumbered(true);
    view().preselect(qualityDefault_);
    view().animateIn();
    Haptics::open();
    host_->setAllowsKey(true);
    host_->watchClicksOutside([this] {
        hide();
    });
    if (onQualityShown)
        onQualityShown();
}

void WheelController::chooseQuality(int index, QualityLevel level)
{
    Haptics::pick();
    Chime::card(Chime::Kind::flip);
    if (MagicBurst::dropPoint())
        MagicBurst::noteQualityPick();
    host_->fanPick(index);
    // The step's files and action outlive the hide that forgets them.
    auto urls = std::move(qualityUrls_);
    auto run = std::move(qualityRun_);
    hide();
    if (run)
        run(urls, level);
}

bool WheelController::handleKey(int key, const QString& text)
{
    if (!choosingQuality_)
        return false;
    if (key == Qt::Key_Escape) {
        hide();
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        const auto run = qualityEntries_[size_t(qualityDefault_)].run;
        run({});
        return true;
    }
    bool number = false;
    const int n = text.toInt(&number, 10);
    if (!number || n < 1 || n > int(qualityEntries_.size()))
        return false;
    // The card's own closure: a hide inside it replaces the list it lives in.
    const auto run = qualityEntries_[size_t(n - 1)].run;
    run({});
    return true;
}

void WheelController::hideSoon()
{
    if (host_->panelVisible() && !choosingQuality_)
        hideTimer_.start();
}

void WheelController::hide()
{
    hideTimer_.stop();
    mode_.reset();
    choosingQuality_ = false;
    view().setInteractive(false);
    host_->setAllowsKey(false);
    host_->watchClicksOutside(nullptr);
    if (host_->panelVisible()) {
        std::weak_ptr<bool> alive = alive_;
        view().animateOut([this, alive] {
            if (auto flag = alive.lock(); flag && *flag)
                host_->orderOut();
        });
    }
}
