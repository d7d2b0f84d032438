#include "settings/files_page.h"

#include "core/state/settings_model.h"
#include "documents/components.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

void HeadElidedLabel::setPath(const QString& path)
{
    if (path_ == path)
        return;
    path_ = path;
    setToolTip(path);
    update();
}

QString HeadElidedLabel::shownText() const { return fontMetrics().elidedText(path_, Qt::ElideLeft, width()); }

QSize HeadElidedLabel::sizeHint() const { return {fontMetrics().horizontalAdvance(path_), fontMetrics().height()}; }

QSize HeadElidedLabel::minimumSizeHint() const { return {40, fontMetrics().height()}; }

void HeadElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(SettingsLook::secondaryText(palette()));
    painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, shownText());
}

FilesPage::FilesPage(SettingsModel& model, FolderQuestion ask) : model_(model)
{
    auto* files = section("Arquivos gerados");
    save_ = new Picker;
    save_->addItem("Ao lado do original", true);
    save_->addItem("Pasta fixa", false);
    connect(save_, &QComboBox::activated, this, [this](int index) {
        model_.setOutputBeside(save_->itemData(index).toBool());
    });
    files->addRow("Salvar em", save_);

    auto [folderRow, folderLine] = SettingsLook::row();
    folderRow_ = folderRow;
    path_ = new HeadElidedLabel;
    path_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderLine->addWidget(path_, 1);
    choose_ = new QPushButton("Escolher…");
    connect(choose_, &QPushButton::clicked, this, [this, ask = std::move(ask)] {
        chooseFolder(model_, ask);
    });
    folderLine->addWidget(choose_);
    files->addRow(folderRow_);

    reveal_ = new Switch("Mostrar no gerenciador de arquivos ao terminar");
    connect(reveal_, &QAbstractButton::clicked, this, [this](bool on) {
        model_.setRevealWhenDone(on);
    });
    files->addRow(reveal_);
    panel_ = new Switch("Mostrar painel de progresso");
    connect(panel_, &QAbstractButton::clicked, this, [this](bool on) {
        model_.setShowHUD(on);
    });
    files->addRow(panel_);

    auto* components = section("Componentes");
    auto component = SettingsLook::titledRow("Motor de documentos");
    auto* line = component.line;
    office_ = component.caption;
    install_ = new QPushButton("Instalar agora");
    connect(install_, &QPushButton::clicked, this, [] {
        if (auto component = OfficeComponent::shared())
            component->install();
    });
    line->addWidget(install_);
    download_ = new QProgressBar;
    download_->setRange(0, 1000);
    download_->setTextVisible(false);
    download_->setFixedWidth(90);
    line->addWidget(download_);
    busy_ = new QProgressBar;
    busy_->setRange(0, 0);
    busy_->setTextVisible(false);
    busy_->setFixedSize(40, 8);
    line->addWidget(busy_);
    ready_ = new QLabel("✔");
    // A green that stands out at 3:1 from light and dark windows alike.
    ready_->setStyleSheet("color: #23963d; font-size: 16px;");
    line->addWidget(ready_);
    components->addRow(component.widget);
    about_ = footer({});
    finish();

    connect(&model_, &SettingsModel::changed, this, &FilesPage::refresh);
    if (auto component = OfficeComponent::shared())
        connect(component.get(), &OfficeComponent::changed, this, &FilesPage::refresh);
    refresh();
}

QString FilesPage::officeAbout(const OfficeComponent::State& state)
{
    // The suite that converts is the one named: the distribution's, when it stands in for the
    // component, is no installation of ours.
    if (state.bySystemSuite())
        return "Converte Word, ODT e RTF em PDF com o layout original. Funciona offline. Usa o " + state.systemSuite
            + " do sistema (The Document Foundation, licença MPL 2.0).";
    return QString("Instalado uma única vez pelo Brivlon para converter Word, ODT e RTF em PDF com o layout original, "
                   "sem depender de outros programas. Funciona offline. Usa o LibreOffice ")
        + Components::officeVersion + " (The Document Foundation, licença MPL 2.0).";
}

QString FilesPage::officeStatus(const OfficeComponent::State& state)
{
    using Phase = OfficeComponent::State::Phase;
    if (state.bySystemSuite())
        return "Pronto · Word, ODT e RTF → PDF pelo " + state.systemSuite + " do sistema";
    switch (state.phase) {
    case Phase::downloading: return "Baixando… " + QString::number(int(state.fraction * 100)) + "%";
    case Phase::failed: return "Não instalado: " + state.message;
    case Phase::notInstalled: return "Ainda não instalado";
    case Phase::waitingNetwork:
        return "Aguardando internet: instala sozinho quando conectar (até lá, Word → PDF usa o modo simples)";
    case Phase::installing: return "Instalando…";
    case Phase::ready: return "Pronto · Word, ODT e RTF → PDF";
    }
    return {};
}

void FilesPage::refresh()
{
    save_->setCurrentIndex(model_.outputBeside() ? 0 : 1);
    folderRow_->setVisible(!model_.outputBeside());
    path_->setPath(model_.outputFolder());
    reveal_->setChecked(model_.revealWhenDone());
    panel_->setChecked(model_.showHUD());

    using Phase = OfficeComponent::State::Phase;
    const auto state = OfficeComponent::current();
    office_->setText(officeStatus(state));
    about_->setText(officeAbout(state));
    // Offered only where it can help: not beside the distribution's suite, and not where no
    // download can succeed now (no component for this machine, no network: the wait for the
    // network installs by itself).
    install_->setVisible(!state.bySystemSuite() && state.canDownload
        && (state.phase == Phase::failed || state.phase == Phase::notInstalled));
    download_->setVisible(state.phase == Phase::downloading);
    download_->setValue(int(std::clamp(state.fraction, 0.0, 1.0) * 1000));
    busy_->setVisible(state.phase == Phase::installing);
    ready_->setVisible(state.phase == Phase::ready || state.bySystemSuite());
}
