#include "settings/feedback_window.h"

#include "core/base/build_info.h"
#include "menus/drawing_kit.h"
#include "platform/window_places.h"
#include "settings/controls.h"
#include "settings/feedback.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>

FeedbackWindow::FeedbackWindow(Feedback& model)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), model_(model)
{
    setWindowTitle("Relatar um problema");
    // Escape closes it, as it closes a dialog; what was typed stays for the next opening.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    SettingsLook::follow(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    kind_
        = new SegmentedPicker({Feedback::title(Feedback::Kind::problem), Feedback::title(Feedback::Kind::suggestion)});
    connect(kind_, &SegmentedPicker::picked, this, [this](int index) {
        model_.setKind(index == 0 ? Feedback::Kind::problem : Feedback::Kind::suggestion);
    });
    column->addWidget(kind_, 0, Qt::AlignLeft);

    prompt_ = SettingsLook::footnote({});
    prompt_->setFont(Draw::font(12));
    column->addWidget(prompt_);

    text_ = new QPlainTextEdit;
    text_->setMinimumHeight(140);
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        model_.setText(text_->toPlainText());
    });
    column->addWidget(text_);

    email_ = new QLineEdit;
    email_->setPlaceholderText("Seu e-mail para resposta (opcional)");
    connect(email_, &QLineEdit::textEdited, this, [this](const QString& text) {
        model_.setEmail(text);
    });
    column->addWidget(email_);

    diagnostics_
        = new Switch("Incluir informações técnicas (versão, sistema, últimos erros — sem o conteúdo dos arquivos)");
    connect(diagnostics_, &QAbstractButton::clicked, this, [this](bool on) {
        model_.setIncludeDiagnostics(on);
    });
    column->addWidget(diagnostics_);

    status_ = SettingsLook::footnote({});
    status_->setFont(Draw::font(12));
    column->addWidget(status_);

    auto* row = new QHBoxLayout;
    auto* goesTo = SettingsLook::footnote(QString("Vai para ") + BuildInfo::supportEmail);
    row->addWidget(goesTo);
    row->addStretch(1);
    send_ = new QPushButton("Enviar");
    send_->setDefault(true);
    send_->setAutoDefault(true);
    connect(send_, &QPushButton::clicked, &model_, &Feedback::send);
    row->addWidget(send_);
    column->addLayout(row);

    connect(&model_, &Feedback::changed, this, &FeedbackWindow::refresh);
    refresh();
}

void FeedbackWindow::refresh()
{
    kind_->setCurrent(model_.kind() == Feedback::Kind::problem ? 0 : 1);
    prompt_->setText(model_.kind() == Feedback::Kind::problem
            ? "O que aconteceu? Conte o arquivo (tipo e tamanho), o que você fez e o que esperava."
            : "Qual ideia faria o Brivlon ficar ainda melhor para você?");
    if (text_->toPlainText() != model_.text()) {
        QSignalBlocker blocked(text_);
        text_->setPlainText(model_.text());
    }
    if (email_->text() != model_.email())
        email_->setText(model_.email());
    diagnostics_->setChecked(model_.includeDiagnostics());
    status_->setText(model_.status());
    status_->setVisible(!model_.status().isEmpty());
    // A fixed width, the long texts wrapped in it, and as high as they then are.
    setFixedWidth(formWidth);
    auto* column = layout();
    column->activate();
    setFixedHeight(
        column->hasHeightForWidth() ? column->totalHeightForWidth(formWidth) : column->totalSizeHint().height());
}

void FeedbackWindow::present()
{
    // Centred on the screen the first time; later it comes back where the user left it.
    if (!placed_) {
        placed_ = true;
        if (auto* screen = WindowPlaces::screenForNew())
            move(WindowPlaces::centred(frameGeometry().size(), screen->availableGeometry()));
    }
    show();
    raise();
    activateWindow();
}
