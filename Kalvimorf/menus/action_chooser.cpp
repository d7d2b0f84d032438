#include "menus/action_chooser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The program lives in the tray, so its dialogs must come to the front themselves.
int bringForward(QDialog& dialog)
{
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    return dialog.exec();
}

class Dialogs : public ActionChooser {
public:
    std::optional<DesktopApp> application(const std::vector<DesktopApp>& apps, const std::string& message) override
    {
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Abrir com…"));
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(new QLabel(QString::fromStdString(message)));
        auto* list = new QListWidget;
        list->setIconSize(QSize(24, 24));
        for (const auto& app : apps) {
            const auto icon = QString::fromStdString(app.icon);
            list->addItem(new QListWidgetItem(
                icon.startsWith('/') ? QIcon(icon) : QIcon::fromTheme(icon), QString::fromStdString(app.name)));
        }
        list->setCurrentRow(0);
        layout->addWidget(list);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Abrir"));
        buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
        buttons->button(QDialogButtonBox::Ok)->setEnabled(!apps.empty());
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
        dialog.resize(420, 480);
        if (bringForward(dialog) != QDialog::Accepted)
            return std::nullopt;
        const int row = list->currentRow();
        if (row < 0 || size_t(row) >= apps.size())
            return std::nullopt;
        return apps[size_t(row)];
    }

    std::optional<std::filesystem::path> folder(const std::string& message) override
    {
        QFileDialog dialog;
        dialog.setWindowTitle(QString::fromStdString(message));
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setDirectory(QDir::homePath());
        dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Procurar em:"));
        dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Pasta:"));
        dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Tipo:"));
        dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Mover para cá"));
        dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
        if (bringForward(dialog) != QDialog::Accepted)
            return std::nullopt;
        const auto chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.front().isEmpty())
            return std::nullopt;
        return std::filesystem::path(chosen.front().toStdString());
    }
};

}

void ActionChooser::installDialogs() { set(std::make_shared<Dialogs>()); }
