#include "settings/keys_page.h"

#include "core/state/settings_model.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>

KeysPage::KeysPage(SettingsModel& model) : model_(model)
{
    form_ = section({});
    box_ = qobject_cast<QGroupBox*>(form_->parentWidget());
    mode_ = new Picker;
    mode_->addItem("Uma tecla por leque", true);
    mode_->addItem("Uma tecla só", false);
    connect(mode_, &QComboBox::activated, this, [this](int index) {
        model_.setSeparateKeys(mode_->itemData(index).toBool());
    });
    form_->addRow("Modo", mode_);
    convert_ = addKeyPicker("Converter", WheelMode::convert);
    tools_ = addKeyPicker("Ferramentas", WheelMode::tools);
    actions_ = addKeyPicker("Ações", WheelMode::actions);
    single_ = addKeyPicker("Tecla", std::nullopt);
    footer_ = footer({});
    finish();
    connect(&model_, &SettingsModel::changed, this, &KeysPage::refresh);
    refresh();
}

QComboBox* KeysPage::addKeyPicker(const QString& title, std::optional<WheelMode> mode)
{
    auto* picker = new Picker;
    for (auto key : TriggerKeys::all())
        picker->addItem(QString::fromStdString(TriggerKeys::title(key)), int(key));
    connect(picker, &QComboBox::activated, this, [this, picker, mode](int index) {
        const auto key = TriggerKey(picker->itemData(index).toInt());
        if (!mode) {
            model_.setSingleKey(key);
            return;
        }
        switch (*mode) {
        case WheelMode::convert: model_.setConvertKey(key); break;
        case WheelMode::tools: model_.setToolsKey(key); break;
        case WheelMode::actions: model_.setActionsKey(key); break;
        }
    });
    form_->addRow(title, picker);
    return picker;
}

QComboBox* KeysPage::keyPicker(std::optional<WheelMode> mode) const
{
    if (!mode)
        return single_;
    switch (*mode) {
    case WheelMode::convert: return convert_;
    case WheelMode::tools: return tools_;
    case WheelMode::actions: return actions_;
    }
    return convert_;
}

void KeysPage::refresh()
{
    const bool separate = model_.separateKeys();
    box_->setTitle(separate ? "Teclas (segure durante o arraste)" : "Teclas (toque durante o arraste)");
    mode_->setCurrentIndex(separate ? 0 : 1);
    for (auto* picker : {convert_, tools_, actions_})
        form_->setRowVisible(picker, separate);
    form_->setRowVisible(single_, !separate);
    convert_->setCurrentIndex(convert_->findData(int(model_.convertKey())));
    tools_->setCurrentIndex(tools_->findData(int(model_.toolsKey())));
    actions_->setCurrentIndex(actions_->findData(int(model_.actionsKey())));
    single_->setCurrentIndex(single_->findData(int(model_.singleKey())));
    footer_->setText(separate ? "Segure a tecla durante o arraste: o leque fica aberto enquanto ela estiver "
                                "pressionada. Solte o arquivo na carta; soltar a tecla fecha o leque."
                              : "Toque uma vez para abrir o leque. Toque de novo para alternar entre Converter, "
                                "Ferramentas e Ações.");
}
