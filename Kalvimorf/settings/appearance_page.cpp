#include "settings/appearance_page.h"

#include "core/state/chime.h"
#include "core/state/settings_model.h"
#include "menus/drawing_kit.h"
#include "menus/haptics.h"
#include "menus/menu_style.h"
#include "menus/theme_preview.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>

namespace {

const std::vector<AppTheme> themes{AppTheme::macos, AppTheme::classic, AppTheme::stage};
const std::vector<AppAppearance> appearances{AppAppearance::automatic, AppAppearance::light, AppAppearance::dark};
const std::vector<FanPlacement> placements{FanPlacement::cursor, FanPlacement::center};

template <typename Value> int indexOf(const std::vector<Value>& values, Value value)
{
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] == value)
            return int(i);
    return 0;
}

std::vector<QString> names(const std::vector<Haptics::Level>& levels)
{
    std::vector<QString> result;
    for (auto level : levels)
        result.push_back(QString::fromStdString(Haptics::name(level)));
    return result;
}

std::vector<QString> names(const std::vector<Chime::Finale>& finales)
{
    std::vector<QString> result;
    for (auto finale : finales)
        result.push_back(QString::fromStdString(Chime::Finales::name(finale)));
    return result;
}

QPushButton* playButton(const QString& text)
{
    auto* button = new QPushButton("▶ " + text);
    button->setFont(Draw::font(11));
    return button;
}

}

AppearancePage::AppearancePage(SettingsModel& model) : model_(model)
{
    auto* form = section("Aparência");
    theme_ = new SegmentedPicker({"macOS", "Clássico", "Palco"});
    connect(theme_, &SegmentedPicker::picked, this, [this](int index) {
        model_.setTheme(themes[size_t(index)]);
    });
    form->addRow("Tema", theme_);

    appearance_ = new SegmentedPicker({"Automático", "Claro", "Escuro"});
    connect(appearance_, &SegmentedPicker::picked, this, [this](int index) {
        model_.setAppearance(appearances[size_t(index)]);
    });
    form->addRow("Claro ou escuro", appearance_);

    placement_ = new SegmentedPicker({"Perto do cursor", "Centro da tela"});
    connect(placement_, &SegmentedPicker::picked, this, [this](int index) {
        const auto placement = placements[size_t(index)];
        Defaults::set(SettingKey::fanPlacement, QString::fromStdString(FanPlacements::rawValue(placement)));
        refresh();
    });
    form->addRow("Onde o leque abre", placement_);

    preview_ = new ThemePreview(model_.theme(), model_.appearance());
    preview_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    form->addRow(preview_);

    haptics_ = new SegmentedPicker(names(Haptics::levels()));
    connect(haptics_, &SegmentedPicker::picked, this, [this](int index) {
        const auto level = Haptics::levels()[size_t(index)];
        Defaults::set(SettingKey::haptics, QString::fromStdString(Haptics::rawValue(level)));
        refresh();
        Haptics::pick();
    });
    form->addRow("Vibração do trackpad", haptics_);
    form_ = form;

    auto [sounds, soundRow] = SettingsLook::row();
    doneSound_ = new Switch("Sons de conclusão e erro");
    connect(doneSound_, &QAbstractButton::clicked, this, [this](bool on) {
        model_.setDoneSound(on);
    });
    soundRow->addWidget(doneSound_, 1);
    success_ = playButton("Sucesso");
    connect(success_, &QPushButton::clicked, this, [] {
        Chime::play(Chime::Kind::success, true);
    });
    soundRow->addWidget(success_);
    failure_ = playButton("Erro");
    connect(failure_, &QPushButton::clicked, this, [] {
        Chime::play(Chime::Kind::failure, true);
    });
    soundRow->addWidget(failure_);
    form->addRow(sounds);

    finale_ = new SegmentedPicker(names(Chime::Finales::all()));
    connect(finale_, &SegmentedPicker::picked, this, [this](int index) {
        const auto finale = Chime::Finales::all()[size_t(index)];
        Defaults::set(SettingKey::finale, QString::fromStdString(Chime::Finales::rawValue(finale)));
        refresh();
        Chime::play(Chime::Kind::success, true);
    });
    form->addRow("Som de conclusão", finale_);

    cardSound_ = new Switch("Sons das cartas (abrir e virar)");
    connect(cardSound_, &QAbstractButton::clicked, this, [this](bool on) {
        Defaults::set(SettingKey::cardSound, on);
        refresh();
        if (on)
            Chime::card(Chime::Kind::flip);
    });
    form->addRow(cardSound_);
    finish();

    connect(&model_, &SettingsModel::changed, this, &AppearancePage::refresh);
    refresh();
}

void AppearancePage::refresh()
{
    theme_->setCurrent(indexOf(themes, model_.theme()));
    appearance_->setCurrent(indexOf(appearances, model_.appearance()));
    placement_->setCurrent(indexOf(placements, FanPlacements::current()));
    preview_->setTheme(model_.theme());
    preview_->setAppearance(model_.appearance());
    haptics_->setCurrent(indexOf(Haptics::levels(), Haptics::level()));
    // Only where something can be felt: nothing performs haptics on Linux desktops. The stored
    // level stays as it is either way.
    form_->setRowVisible(haptics_, Haptics::Performer::shared() != nullptr);
    doneSound_->setChecked(model_.doneSound());
    finale_->setCurrent(indexOf(Chime::Finales::all(), Chime::Finales::current()));
    cardSound_->setChecked(Prefs::cardSound());
}
