#pragma once

#include "core/base/quality.h"
#include "settings/controls.h"

#include <map>

class QComboBox;
class SettingsModel;

// "Qualidade": the preset each group of formats uses by default, and whether a drop asks.
// The values live in the store only; every picker reads it afresh.
class QualityPage : public SettingsPage {
public:
    explicit QualityPage(SettingsModel& model);
    void refresh();

    Switch* askSwitch() const { return ask_; }
    QComboBox* picker(QualityGroup group) const { return pickers_.at(group); }

private:
    void addPickers(QFormLayout* form, const std::vector<QualityGroup>& groups);

    SettingsModel& model_;
    Switch* ask_;
    std::map<QualityGroup, QComboBox*> pickers_;
};
