#pragma once

#include <QMainWindow>

#include <filesystem>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

class MainView;

// The second road to every conversion, tool and file action: a window titled "Brivlon" that
// takes dropped or chosen files. Made on first use and kept; closing only hides it, and it shows
// again with the same selection and tab.
class MainWindow : public QMainWindow {
public:
    static MainWindow& shared();
    // Shows it, restored and raised, as it was left.
    void present();
    // Replaces the selection with `files`, then presents.
    void open(const std::vector<fs::path>& files);

    MainView* view() const { return view_; }

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    MainWindow();
    void centre();

    MainView* view_;
    bool placed_ = false;
    // Where the first placing put the frame, until the window manager has framed the window.
    std::optional<QPoint> placedAt_;
};
