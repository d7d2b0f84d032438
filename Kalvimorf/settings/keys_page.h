#pragma once

#include "core/base/settings.h"
#include "settings/controls.h"

class QComboBox;
class QGroupBox;
class QLabel;
class SettingsModel;

// "Teclas": one held key per mode, or one key tapped to open and to move on; both sets are
// kept, the page shows the set of the way chosen.
class KeysPage : public SettingsPage {
public:
    explicit KeysPage(SettingsModel& model);
    void refresh();

    QGroupBox* box() const { return box_; }
    QComboBox* modePicker() const { return mode_; }
    // The picker of a mode's key, or of the single key for none.
    QComboBox* keyPicker(std::optional<WheelMode> mode) const;
    QLabel* footerLabel() const { return footer_; }

private:
    QComboBox* addKeyPicker(const QString& title, std::optional<WheelMode> mode);

    SettingsModel& model_;
    QGroupBox* box_;
    QFormLayout* form_;
    QComboBox* mode_;
    QComboBox* convert_;
    QComboBox* tools_;
    QComboBox* actions_;
    QComboBox* single_;
    QLabel* footer_;
};
