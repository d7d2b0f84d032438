#include "settings/folder_chooser.h"

#include "core/base/app_paths.h"
#include "core/base/settings.h"
#include "core/state/settings_model.h"
#include "menus/action_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

QString folderToStartIn(const SettingsModel& model)
{
    for (const auto& folder : {model.outputFolder(), QString::fromStdString(AppPaths::downloads().string())})
        if (!folder.isEmpty() && QFileInfo(folder).isDir())
            return folder;
    return QDir::homePath();
}

std::optional<QString> askForFolder(const QString& start)
{
    // The desktop's own folder chooser where its platform theme or portal offers one (it takes the
    // title and the button's words); Qt's, in Portuguese, elsewhere.
    QFileDialog dialog(nullptr, QStringLiteral("Salvar em"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectory(start);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Procurar em:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Pasta:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Usar esta pasta"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
    fitFileColumns(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const auto chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return std::nullopt;
    return chosen.front();
}

void chooseFolder(SettingsModel& model, const FolderQuestion& ask)
{
    if (auto folder = ask(folderToStartIn(model)))
        model.useFolder(*folder);
}
