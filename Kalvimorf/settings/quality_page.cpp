#include "settings/quality_page.h"

#include "core/base/settings.h"
#include "core/state/settings_model.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>

QualityPage::QualityPage(SettingsModel& model) : model_(model)
{
    auto* askForm = section({});
    ask_ = new Switch("Perguntar a qualidade ao soltar na carta");
    connect(ask_, &QAbstractButton::clicked, this, [this](bool on) {
        Defaults::set(SettingKey::askQuality, on);
        refresh();
    });
    askForm->addRow(ask_);
    askForm->addRow(SettingsLook::footnote(
        "Ao soltar num formato como JPG, WebP, MP4 ou MP3, o leque mostra as cartas de qualidade: clique na carta, "
        "use 1–4, Return para o padrão ou Esc para cancelar. Desligado: converte direto com o padrão abaixo."));
    addPickers(section("Imagens"), {QualityGroup::jpg, QualityGroup::webp, QualityGroup::heic, QualityGroup::avif});
    addPickers(section("Vídeo"), {QualityGroup::video, QualityGroup::webm, QualityGroup::gif});
    auto* audio = section("Áudio");
    addPickers(audio, {QualityGroup::mp3, QualityGroup::m4a, QualityGroup::ogg});
    audio->addRow(SettingsLook::footnote("Padrão de cada formato (é a opção já destacada nas cartas de qualidade e a "
                                         "usada quando a pergunta está desligada)."));
    finish();
    connect(&model_, &SettingsModel::changed, this, &QualityPage::refresh);
    refresh();
}

void QualityPage::addPickers(QFormLayout* form, const std::vector<QualityGroup>& groups)
{
    for (auto group : groups) {
        auto* picker = new Picker;
        for (auto level : QualityLevels::all())
            picker->addItem(QString::fromStdString(QualityGroups::label(group, level)), int(level));
        connect(picker, &QComboBox::activated, this, [this, picker, group](int index) {
            const auto level = QualityLevel(picker->itemData(index).toInt());
            Defaults::set(SettingKey::quality, QualityGroups::rawValue(group),
                QString::fromStdString(QualityLevels::rawValue(level)));
            refresh();
        });
        form->addRow(QString::fromStdString(QualityGroups::title(group)), picker);
        pickers_[group] = picker;
    }
}

void QualityPage::refresh()
{
    ask_->setChecked(Prefs::askQuality());
    for (auto [group, picker] : pickers_)
        picker->setCurrentIndex(picker->findData(int(Quality::saved(group))));
}
