#pragma once

#include "platform/drop_offers.h"
#include "shell/view_look.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AppModel;
class DropZone;
class HowToView;
class ModeTabs;
class QStackedLayout;
class SelectionView;

// The main window's content, 580 × 560: the mode tabs, the drop zone or the selection grid, and
// the shortcut help. The whole of it takes file drops.
class MainView : public QWidget {
public:
    static constexpr int contentWidth = 580;
    static constexpr int contentHeight = 560;

    explicit MainView(AppModel& model, QWidget* parent = nullptr);

    // Asks the user for files and folders; nothing when cancelled. Replaceable for tests.
    using Chooser = std::function<std::optional<std::vector<std::filesystem::path>>(QWidget* parent)>;
    static void setChooser(Chooser chooser);
    static std::optional<std::vector<std::filesystem::path>> chooseWithDialog(QWidget* parent);

    // The local files among dropped URLs, sorted by name (NFC, then code points, case-sensitive,
    // stable); empty when none is a local file.
    static std::vector<std::filesystem::path> dropped(const QList<QUrl>& urls);
    void loadURLs(const QList<QUrl>& urls);
    void choose();

    ModeTabs* tabs() const { return tabs_; }
    DropZone* dropZone() const { return dropZone_; }
    SelectionView* selection() const { return selection_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void follow();
    void tint();
    void stepEntrance();

    AppModel& model_;
    ModeTabs* tabs_;
    DropZone* dropZone_;
    SelectionView* selection_;
    HowToView* howTo_;
    QStackedLayout* stack_;
    // The part that just came in (drop zone or grid) fades in on this spring.
    Spring entrance_;
    std::unique_ptr<SpringTicker> ticker_;
    DropOffers::DraggedFiles dragged_;
};
