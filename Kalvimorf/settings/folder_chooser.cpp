#include "settings/folder_chooser.h"

#include "core/base/settings.h"
#include "core/state/settings_model.h"

#include <QFileDialog>

std::optional<QString> askForFolder()
{
    QFileDialog dialog;
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Usar esta pasta"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const auto chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return std::nullopt;
    return chosen.front();
}

void chooseFolder(SettingsModel& model, const FolderQuestion& ask)
{
    if (auto folder = ask())
        model.useFolder(*folder);
}
