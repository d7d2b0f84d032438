#include "settings/general_page.h"

#include "core/base/build_info.h"
#include "core/state/settings_model.h"
#include "platform/desktop_apps.h"
#include "settings/feedback.h"
#include "settings/updates.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

GeneralPage::GeneralPage(SettingsModel& model, Updates& updates) : model_(model), updates_(updates)
{
    auto* updatesForm = section("Atualizações");
    auto version = SettingsLook::titledRow("Brivlon " + Updates::displayVersion());
    auto* line = version.line;
    status_ = version.caption;
    download_ = new QPushButton("Baixar");
    download_->setDefault(true);
    connect(download_, &QPushButton::clicked, &updates_, &Updates::openDownload);
    line->addWidget(download_);
    check_ = new QPushButton;
    connect(check_, &QPushButton::clicked, &updates_, [this] {
        updates_.check(true);
    });
    line->addWidget(check_);
    updatesForm->addRow(version.widget);

    auto* general = section("Geral");
    auto [reportRow, reportLine] = SettingsLook::row();
    reportLine->addWidget(new QLabel("Encontrou um problema ou tem uma ideia?"), 1);
    report_ = new QPushButton("Relatar…");
    connect(report_, &QPushButton::clicked, this, [] {
        Feedback::shared().open();
    });
    reportLine->addWidget(report_);
    general->addRow(reportRow);

    terminal_ = new Picker;
    connect(terminal_, &QComboBox::activated, this, [this](int index) {
        model_.setTerminalApp(terminal_->itemData(index).toString());
    });
    general->addRow("Abrir pastas no", terminal_);
    form_ = general;

    login_ = new Switch("Abrir ao iniciar o computador");
    connect(login_, &QAbstractButton::clicked, this, [this](bool on) {
        model_.setLaunchAtLogin(on);
    });
    general->addRow(login_);
    finish();

    connect(&model_, &SettingsModel::changed, this, &GeneralPage::refresh);
    connect(&updates_, &Updates::changed, this, &GeneralPage::refresh);
    listTerminals();
}

QString GeneralPage::updateStatus(const Updates& updates)
{
    if (updates.update())
        return "Nova versão " + updates.update()->versao + " disponível em " + BuildInfo::siteHost;
    if (!updates.lastCheck())
        return "Procura sozinho uma vez por dia";
    return "Você está na versão mais recente";
}

void GeneralPage::refresh()
{
    status_->setText(updateStatus(updates_));
    download_->setVisible(updates_.update().has_value());
    check_->setText(updates_.checking() ? "Procurando…" : "Procurar agora");
    check_->setEnabled(!updates_.checking());
    // A stored terminal that is no longer installed, or another system's name, shows the
    // desktop's default, which leads the list.
    const int terminal = terminal_->findData(model_.terminalApp());
    terminal_->setCurrentIndex(terminal < 0 ? 0 : terminal);
    login_->setChecked(model_.launchAtLogin());
}

void GeneralPage::listTerminals()
{
    const auto terminals = DesktopApps::terminals();
    QStringList ids;
    for (const auto& terminal : terminals)
        ids << QString::fromStdString(terminal.id);
    if (ids != terminalIds_) {
        terminalIds_ = ids;
        QSignalBlocker quiet(terminal_);
        terminal_->clear();
        for (const auto& terminal : terminals)
            terminal_->addItem(QString::fromStdString(terminal.name), QString::fromStdString(terminal.id));
    }
    // A choice of one is no choice.
    form_->setRowVisible(terminal_, terminals.size() > 1);
    refresh();
}

void GeneralPage::showEvent(QShowEvent* event)
{
    // Terminals installed or removed since show at the next opening.
    listTerminals();
    SettingsPage::showEvent(event);
}
