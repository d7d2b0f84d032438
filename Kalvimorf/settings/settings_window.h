#pragma once

#include <QColor>
#include <QWidget>

#include <vector>

class AppearancePage;
class FilesPage;
class GeneralPage;
class KeysPage;
class QTabWidget;
class QualityPage;
class SettingsModel;
class Updates;

// "Ajustes do Brivlon": five pages over the settings model, the update checker and the office
// component. Every change is written when it is made; closing only hides the window.
class SettingsWindow : public QWidget {
public:
    // The window of the program, made on first use and kept.
    static SettingsWindow& shared();
    // Shows the shared window, raised, on the page last chosen in this run.
    static void showWindow();

    SettingsWindow(SettingsModel& model, Updates& updates, QWidget* parent = nullptr);

    // The pages' identifiers in tab order: "geral", "aparencia", "teclas", "arquivos", "qualidade".
    static const std::vector<QString>& tabs();
    QTabWidget* tabWidget() const { return tabs_; }
    GeneralPage* general() const { return general_; }
    AppearancePage* appearance() const { return appearance_; }
    KeysPage* keys() const { return keys_; }
    FilesPage* files() const { return files_; }
    QualityPage* quality() const { return quality_; }

    static constexpr int minimumWidth = 520;
    static constexpr int maximumWidth = 760;
    static constexpr int minimumHeight = 380;

    // Lays out and draws every page not shown once, off screen; the first time only.
    void warmPages();

protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void drawSymbols();
    void followTab();
    void restoreFrame();

    SettingsModel& model_;
    QTabWidget* tabs_ = nullptr;
    GeneralPage* general_;
    AppearancePage* appearance_;
    KeysPage* keys_;
    FilesPage* files_;
    QualityPage* quality_;
    bool warm_ = false;
    QColor symbolColour_;
};
