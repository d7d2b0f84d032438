#include "trim/trim_editor_view.h"

#include "trim/clip_editor.h"
#include "trim/clip_list.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QFrame* divider(bool vertical)
{
    auto* line = new QFrame;
    line->setFrameShape(vertical ? QFrame::VLine : QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    TrimPaint::tint(*line, 0.16);
    return line;
}

QLabel* label(const QString& text, QFont font, double opacity)
{
    auto* made = new QLabel(text);
    made->setFont(font);
    TrimPaint::tint(*made, opacity);
    return made;
}

}

TrimEditorView::TrimEditorView(
    TrimSession& session, std::function<void()> onCancel, std::function<void()> onExport, QWidget* parent)
    : QWidget(parent), session_(session), onCancel_(std::move(onCancel)), onExport_(std::move(onExport))
{
    setFont(TrimPaint::font(13));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* batch = new QHBoxLayout;
    batch->setContentsMargins(14, 10, 14, 10);
    batch->setSpacing(10);
    batch->addWidget(label("Cortar de todos:", TrimPaint::font(12, QFont::Medium), 1));
    batch->addWidget(label("início", TrimPaint::font(12), 0.55));
    auto cutField = [](double& value) {
        return new TimeField(
            [&value] {
                return value;
            },
            [&value](double typed) {
                value = typed;
            });
    };
    head_ = cutField(session_.headCut);
    batch->addWidget(head_);
    batch->addWidget(label("fim", TrimPaint::font(12), 0.55));
    tail_ = cutField(session_.tailCut);
    batch->addWidget(tail_);
    auto* apply = new QPushButton("Aplicar a todos");
    apply->setFocusPolicy(Qt::NoFocus);
    connect(apply, &QPushButton::clicked, &session, &TrimSession::applyToAll);
    batch->addWidget(apply);
    auto* reset = new QPushButton("Zerar");
    reset->setFlat(true);
    reset->setFocusPolicy(Qt::NoFocus);
    TrimPaint::tint(*reset, 0.55);
    connect(reset, &QPushButton::clicked, &session, &TrimSession::resetAll);
    batch->addWidget(reset);
    batch->addStretch(1);
    // Faint, but no fainter than still reads on either ground.
    batch->addWidget(label("Espaço tocar · I/O marcar · S dividir · N trecho · ↑↓ clipe", TrimPaint::font(11), 0.45));
    column->addLayout(batch);
    column->addWidget(divider(false));

    main_ = new QHBoxLayout;
    main_->setContentsMargins(0, 0, 0, 0);
    main_->setSpacing(0);
    list_ = new ClipList(session);
    auto* scroller = new QScrollArea;
    scroller->setWidget(list_);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setFixedWidth(250);
    main_->addWidget(scroller);
    main_->addWidget(divider(true));
    empty_ = new QWidget;
    empty_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    main_->addWidget(empty_, 1);
    column->addLayout(main_, 1);
    column->addWidget(divider(false));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(14, 10, 14, 10);
    footer->setSpacing(14);
    footer->addWidget(new QLabel("Salvar como"));
    format_ = new QComboBox;
    format_->setFixedWidth(260 - 90);
    for (const auto& [ext, text] : session.outputChoices())
        format_->addItem(QString::fromStdString(text), QString::fromStdString(ext));
    connect(format_, &QComboBox::currentIndexChanged, this, [this](int index) {
        session_.outputExt = format_->itemData(index).toString().toStdString();
        refresh();
    });
    footer->addWidget(format_);
    fast_ = new QCheckBox("Corte rápido (sem recodificar)");
    fast_->setToolTip("Instantâneo e sem perda, mas o início cai no keyframe mais próximo. Só ao manter o formato.");
    fast_->setFocusPolicy(Qt::NoFocus);
    connect(fast_, &QCheckBox::toggled, this, [this](bool on) {
        session_.fastCopy = on;
    });
    footer->addWidget(fast_);
    footer->addStretch(1);
    auto* cancel = new QPushButton("Cancelar");
    cancel->setFocusPolicy(Qt::NoFocus);
    connect(cancel, &QPushButton::clicked, this, [this] {
        onCancel_();
    });
    footer->addWidget(cancel);
    export_
        = new QPushButton(session.clips().size() == 1 ? QString("Exportar")
                                                      : QString("Exportar %1 arquivos").arg(session.clips().size()));
    export_->setDefault(true);
    export_->setFocusPolicy(Qt::NoFocus);
    connect(export_, &QPushButton::clicked, this, [this] {
        onExport_();
    });
    footer->addWidget(export_);
    column->addLayout(footer);

    connect(&session, &TrimSession::changed, this, &TrimEditorView::refresh);
    // A new theme changes no palette, so it comes as news; a new appearance comes both ways.
    connect(&TrimLookChanges::shared(), &TrimLookChanges::changed, this, &TrimEditorView::recolour);
    refresh();
}

void TrimEditorView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        recolour();
    QWidget::changeEvent(event);
}

void TrimEditorView::recolour() { TrimPaint::recolour(*this); }

void TrimEditorView::settle()
{
    list_->settle();
    if (editor_)
        editor_->settle();
    // Stills are taken at once: the rooms that changed size are laid out before.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

void TrimEditorView::refresh()
{
    auto* selected = session_.selected();
    if (editor_ && (!selected || &editor_->clip() != selected)) {
        main_->removeWidget(editor_);
        editor_->deleteLater();
        editor_ = nullptr;
        empty_->show();
    }
    if (selected && !editor_) {
        editor_ = new ClipEditor(session_, *selected);
        empty_->hide();
        main_->addWidget(editor_, 1);
    }
    if (editor_)
        editor_->refresh();
    fast_->setEnabled(session_.outputExt.empty());
    fast_->setChecked(session_.fastCopy);
    list_->setMinimumHeight(list_->sizeHint().height());
    list_->follow();
}
