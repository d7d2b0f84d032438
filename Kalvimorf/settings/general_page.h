#pragma once

#include "settings/controls.h"

#include <QStringList>

class QComboBox;
class QFormLayout;
class QLabel;
class QPushButton;
class SettingsModel;
class Updates;

// "Geral": the version and the update state with their buttons, the problem report, the
// terminal for folders and starting with the session.
class GeneralPage : public SettingsPage {
public:
    GeneralPage(SettingsModel& model, Updates& updates);
    void refresh();
    // "Nova versão … disponível em …", "Procura sozinho uma vez por dia" or the up-to-date text.
    static QString updateStatus(const Updates& updates);

    QLabel* statusLabel() const { return status_; }
    QPushButton* downloadButton() const { return download_; }
    QPushButton* checkButton() const { return check_; }
    // "Abrir pastas no": the installed terminals, the desktop's default first; shown only when
    // there are two or more.
    QComboBox* terminalPicker() const { return terminal_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void listTerminals();

    SettingsModel& model_;
    Updates& updates_;
    QLabel* status_;
    QPushButton* download_;
    QPushButton* check_;
    QPushButton* report_;
    QComboBox* terminal_;
    QFormLayout* form_;
    QStringList terminalIds_;
    Switch* login_;
};
