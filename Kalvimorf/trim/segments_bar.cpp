#include "trim/segments_bar.h"

#include "core/engines/time_text.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

namespace Chips {

namespace {

QFont chipFont(bool active) { return TrimPaint::font(11, active ? QFont::DemiBold : QFont::Normal); }

}

QString text(int index, const ClipRange& range)
{
    return QString::number(index + 1) + "  " + QString::fromStdString(TimeText::format(range.start)) + " \u2013 "
        + QString::fromStdString(TimeText::format(range.end));
}

std::vector<QRectF> layout(const std::vector<ClipRange>& segments)
{
    std::vector<QRectF> rects;
    double x = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const QFontMetricsF metrics(chipFont(true));
        const double width = metrics.horizontalAdvance(text(int(i), segments[i])) + 16;
        rects.emplace_back(x, 0, width, metrics.height() + 8);
        x += width + 6;
    }
    return rects;
}

void paint(QPainter& painter, const std::vector<ClipRange>& segments, int active, const QColor& primary)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const auto rects = layout(segments);
    for (size_t i = 0; i < segments.size(); ++i) {
        const bool on = int(i) == active;
        auto fill = on ? TrimPaint::yellow : primary;
        fill.setAlphaF(on ? 0.9f : 0.07f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(rects[i], 6, 6);
        painter.setFont(chipFont(on));
        painter.setPen(on ? QColor(Qt::black) : primary);
        painter.drawText(rects[i], Qt::AlignCenter, text(int(i), segments[i]));
    }
    painter.restore();
}

}

namespace {

class ChipStrip : public QWidget {
public:
    ChipStrip(TrimSession& session, TrimClip& clip) : session_(session), clip_(clip) { }

    QSize sizeHint() const override
    {
        const auto rects = Chips::layout(clip_.segments());
        return {int(rects.empty() ? 0 : rects.back().right()) + 1, int(rects.empty() ? 20 : rects.back().height())};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        Chips::paint(painter, clip_.segments(), clip_.active(), TrimPaint::primary(*this));
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        const auto rects = Chips::layout(clip_.segments());
        for (size_t i = 0; i < rects.size(); ++i) {
            if (!rects[i].contains(event->position()))
                continue;
            auto* selected = session_.selected();
            if (!selected || int(i) >= int(selected->segments().size()))
                return;
            selected->setActive(int(i));
            session_.seek(selected->current().start);
            return;
        }
    }

private:
    TrimSession& session_;
    TrimClip& clip_;
};

}

QIcon symbolIcon(int which, const QColor& colour)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    TrimPaint::symbol(painter, TrimPaint::Symbol(which), QRectF(2, 2, 28, 28), colour);
    return QIcon(pixmap);
}

SegmentsBar::SegmentsBar(TrimSession& session, TrimClip& clip, QWidget* parent)
    : QWidget(parent), session_(session), clip_(clip)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* title = new QLabel("Trechos");
    title->setFont(TrimPaint::font(12, QFont::Medium));
    title->setStyleSheet(QString("color: %1").arg(TrimPaint::secondary(*this).name(QColor::HexArgb)));
    row->addWidget(title);

    chips_ = new ChipStrip(session, clip);
    auto* scroller = new QScrollArea;
    scroller->setWidget(chips_);
    scroller->setWidgetResizable(false);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setFixedHeight(chips_->sizeHint().height());
    scroller->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    row->addWidget(scroller, 1);

    const auto ink = TrimPaint::primary(*this);
    auto button = [&](const QString& text, TrimPaint::Symbol symbol, const QString& help) {
        auto* made = new QPushButton(symbolIcon(int(symbol), ink), text);
        made->setToolTip(help);
        made->setFocusPolicy(Qt::NoFocus);
        row->addWidget(made);
        return made;
    };
    auto* add = button("Trecho", TrimPaint::Symbol::plus, "Novo trecho a partir do cursor (tecla N)");
    connect(add, &QPushButton::clicked, &session, &TrimSession::addSegmentAtPlayhead);
    auto* split = button("Dividir no cursor", TrimPaint::Symbol::scissors,
        "Divide o trecho no cursor \u2014 útil para tirar um pedaço do meio (tecla S)");
    connect(split, &QPushButton::clicked, &session, &TrimSession::splitAtPlayhead);
    remove_ = button("", TrimPaint::Symbol::trash, "Remover o trecho selecionado");
    connect(remove_, &QPushButton::clicked, this, [this] {
        clip_.removeActive();
        session_.seek(clip_.current().start);
    });
    auto* simple = new QPushButton("Corte simples");
    simple->setFlat(true);
    simple->setFocusPolicy(Qt::NoFocus);
    simple->setToolTip("Volta a um único corte (do início do primeiro trecho ao fim do último)");
    simple->setStyleSheet(QString("color: %1").arg(TrimPaint::secondary(*this).name(QColor::HexArgb)));
    connect(simple, &QPushButton::clicked, this, [this] {
        clip_.mergeToSingle();
        session_.setAdvanced(false);
        session_.seek(clip_.current().start);
    });
    row->addWidget(simple);
    refresh();
}

void SegmentsBar::refresh()
{
    remove_->setEnabled(clip_.segments().size() >= 2);
    chips_->resize(chips_->sizeHint());
    chips_->update();
}
