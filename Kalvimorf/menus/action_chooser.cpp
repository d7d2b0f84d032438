#include "menus/action_chooser.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTreeView>
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
        // Every row as high as one with its icon, and every row with one: an entry without its own
        // gets a generic application's, so that the names stand in one column.
        list->setUniformItemSizes(true);
        const QIcon generic = QIcon::fromTheme(QStringLiteral("application-x-executable"),
            list->style()->standardIcon(QStyle::SP_FileIcon));
        for (const auto& app : apps) {
            const auto name = QString::fromStdString(app.icon);
            QIcon icon = name.startsWith('/') ? QIcon(name) : QIcon::fromTheme(name);
            if (icon.pixmap(24).isNull())
                icon = generic;
            auto* item = new QListWidgetItem(icon, QString::fromStdString(DesktopApps::label(app)));
            item->setSizeHint(QSize(0, 32));
            list->addItem(item);
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
        fitFileColumns(dialog);
        if (bringForward(dialog) != QDialog::Accepted)
            return std::nullopt;
        const auto chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.front().isEmpty())
            return std::nullopt;
        return std::filesystem::path(chosen.front().toStdString());
    }
};

}

void fitFileColumns(QFileDialog& dialog)
{
    dialog.resize(dialog.size().expandedTo(QSize(860, 520)));
    if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        auto* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

void ActionChooser::installDialogs() { set(std::make_shared<Dialogs>()); }
