#include "settings/folder_chooser.h"

#include "core/base/settings.h"
#include "core/state/settings_model.h"

#include <QFileDialog>

void chooseFolder(SettingsModel& model)
{
    QFileDialog dialog;
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Usar esta pasta"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const auto chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return;
    model.useFolder(chosen.front());
}
