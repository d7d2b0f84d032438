#include "shell/main_window.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace {
QLabel* selection(QWidget& window) { return window.findChild<QLabel*>("selection"); }
}

MainWindow& MainWindow::shared()
{
    // Never destroyed: a window torn down after the application object is gone would crash the
    // exit.
    static auto* window = new MainWindow;
    return *window;
}

MainWindow::MainWindow() = default;

void MainWindow::present()
{
    if (!window_) {
        window_ = std::make_unique<QWidget>();
        window_->setWindowTitle("Brivlon");
        window_->setFixedSize(520, 360);
        auto* layout = new QVBoxLayout(window_.get());
        auto* label = new QLabel("Solte arquivos aqui", window_.get());
        label->setObjectName("selection");
        label->setAlignment(Qt::AlignCenter);
        layout->addWidget(label);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void MainWindow::open(const std::vector<std::filesystem::path>& files)
{
    present();
    QStringList names;
    for (const auto& file : files)
        names << QString::fromStdString(file.filename().string());
    selection(*window_)->setText(names.join("\n"));
}
