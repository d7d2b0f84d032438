#pragma once

#include <filesystem>
#include <memory>
#include <vector>

class QWidget;

// The main window with its drop zone: made on first demand, hidden when closed, never released.
class MainWindow {
public:
    static MainWindow& shared();
    // Brings the window to the front, making it when needed.
    void present();
    // Makes the files the selection, then presents the window.
    void open(const std::vector<std::filesystem::path>& files);

private:
    MainWindow();
    std::unique_ptr<QWidget> window_;
};
