#pragma once

#include "settings/controls.h"

class QFormLayout;
class QPushButton;
class SettingsModel;
class ThemePreview;

// "Aparência": theme and appearance with their preview, where the fan opens, the haptic level
// (only where a haptic device answers) and the sounds. Each choice is heard or felt at once
// where it has a sample.
class AppearancePage : public SettingsPage {
public:
    explicit AppearancePage(SettingsModel& model);
    void refresh();

    SegmentedPicker* themePicker() const { return theme_; }
    SegmentedPicker* appearancePicker() const { return appearance_; }
    SegmentedPicker* placementPicker() const { return placement_; }
    SegmentedPicker* hapticsPicker() const { return haptics_; }
    SegmentedPicker* finalePicker() const { return finale_; }
    Switch* doneSoundSwitch() const { return doneSound_; }
    Switch* cardSoundSwitch() const { return cardSound_; }
    QPushButton* successButton() const { return success_; }
    QPushButton* failureButton() const { return failure_; }
    ThemePreview* preview() const { return preview_; }

private:
    SettingsModel& model_;
    SegmentedPicker* theme_;
    SegmentedPicker* appearance_;
    SegmentedPicker* placement_;
    ThemePreview* preview_;
    SegmentedPicker* haptics_;
    QFormLayout* form_;
    Switch* doneSound_;
    QPushButton* success_;
    QPushButton* failure_;
    SegmentedPicker* finale_;
    Switch* cardSound_;
};
