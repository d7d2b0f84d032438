#pragma once

#include "core/base/quality.h"
#include "core/base/settings.h"
#include "menus/wheel_entry.h"
#include "shell/format_grid.h"
#include "shell/item_focus.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class AppModel;
class QLabel;
class QPushButton;
class QScrollArea;
class QualityPicker;
class SelectionHeader;

// What the main window shows for a selection: its name, the cards the menus would offer for it in
// the window's mode as a grid of tiles, and in convert mode a quality for all of them.
struct SelectionContent {
    std::string title;
    std::string subtitle;
    bool showsQuality = false;
    // Shown in place of the grid when there are no entries.
    std::string message;
    std::vector<WheelEntry> entries;
    std::vector<FormatTile> tiles;  // one per entry
};

namespace Selection {
// Asks the menus for the entries once and words everything from them.
SelectionContent content(
    WheelMode mode, const std::vector<std::filesystem::path>& files, std::optional<QualityLevel> quality);
// The click rule: a chosen quality goes to entries that take one; everything else runs plain.
void run(const WheelEntry& entry, const std::vector<std::filesystem::path>& files, std::optional<QualityLevel> quality);
// "Padrão" and the four levels, in picker order.
const std::vector<std::optional<QualityLevel>>& pickerChoices();
}

class SelectionView : public QWidget {
public:
    SelectionView(AppModel& model, QWidget* parent = nullptr);
    const SelectionContent& content() const { return content_; }
    FormatGrid* grid() const { return grid_; }
    QPushButton* clearButton() const { return clear_; }
    QualityPicker* picker() const { return picker_; }

private:
    void refresh();
    void tintMessage();

    AppModel& model_;
    SelectionContent content_;
    SelectionHeader* header_;
    QPushButton* clear_;
    QWidget* qualityRow_;
    QualityPicker* picker_;
    QScrollArea* scroll_;
    FormatGrid* grid_;
    QLabel* message_;
};

// The quality row's segmented picker: "Padrão", "Máxima", "Alta", "Web", "Leve".
class QualityPicker : public QWidget {
public:
    explicit QualityPicker(QWidget* parent = nullptr);
    void setChoice(std::optional<QualityLevel> choice);
    std::optional<QualityLevel> choice() const { return choice_; }
    std::function<void(std::optional<QualityLevel>)> onChoose;
    QRectF segmentRect(int index) const;
    // The choice the keyboard is on, -1 for none.
    int focusedSegment() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void choose(int index);

    std::optional<QualityLevel> choice_;
    ItemFocus* focus_;
};
