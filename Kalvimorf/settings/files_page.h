#pragma once

#include "settings/controls.h"
#include "settings/folder_chooser.h"
#include "settings/office_component.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class SettingsModel;

// A one-line path that gives way at its head, so that the last folder names stay in view.
class HeadElidedLabel : public QWidget {
public:
    void setPath(const QString& path);
    const QString& path() const { return path_; }
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString path_;
};

// "Arquivos": where outputs go, revealing them, the progress panel, and the office component.
class FilesPage : public SettingsPage {
public:
    explicit FilesPage(SettingsModel& model, FolderQuestion ask = askForFolder);
    void refresh();
    // The component's status line: "Baixando… 42%", "Pronto · …" and the rest.
    static QString officeStatus(const OfficeComponent::State& state);
    // The footer under it: which suite converts, and where it comes from.
    static QString officeAbout(const OfficeComponent::State& state);

    QComboBox* savePicker() const { return save_; }
    QWidget* folderRow() const { return folderRow_; }
    HeadElidedLabel* folderPath() const { return path_; }
    QPushButton* chooseButton() const { return choose_; }
    Switch* panelSwitch() const { return panel_; }
    QLabel* officeLabel() const { return office_; }
    QPushButton* installButton() const { return install_; }
    QProgressBar* downloadBar() const { return download_; }
    QProgressBar* busyBar() const { return busy_; }
    QLabel* readyMark() const { return ready_; }
    QLabel* aboutLabel() const { return about_; }

private:
    SettingsModel& model_;
    QComboBox* save_;
    QWidget* folderRow_;
    HeadElidedLabel* path_;
    QPushButton* choose_;
    Switch* reveal_;
    Switch* panel_;
    QLabel* office_;
    QPushButton* install_;
    QProgressBar* download_;
    QProgressBar* busy_;
    QLabel* ready_;
    QLabel* about_;
};
