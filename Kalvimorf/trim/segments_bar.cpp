#include "trim/segments_bar.h"

#include "core/engines/time_text.h"
#include "core/state/media_clock.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

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
    // Every chip as wide as its text in the active weight, so that none shifts when the active
    // one changes.
    const QFontMetricsF metrics(chipFont(true));
    std::vector<QRectF> rects;
    double x = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const double width = metrics.horizontalAdvance(text(int(i), segments[i])) + 16;
        rects.emplace_back(x, 0, width, metrics.height() + 8);
        x += width + 6;
    }
    return rects;
}

namespace {

QRectF between(const QRectF& from, const QRectF& to, double p)
{
    auto mix = [p](double a, double b) {
        return a + (b - a) * p;
    };
    return {
        mix(from.x(), to.x()), mix(from.y(), to.y()), mix(from.width(), to.width()), mix(from.height(), to.height())};
}

QColor blend(const QColor& from, const QColor& to, double p)
{
    auto mix = [p](float a, float b) {
        return a + (b - a) * float(p);
    };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()), mix(from.blueF(), to.blueF()),
        mix(from.alphaF(), to.alphaF()));
}

}

Look look(const Chip& chip, double now)
{
    return {between(chip.from, chip.to, TrimMotion::chipList(now - chip.movedAt)),
        TrimMotion::clamp01(TrimMotion::towards(chip.listed, now - chip.listedAt, TrimMotion::chipList)),
        TrimMotion::clamp01(TrimMotion::towards(chip.active, now - chip.activeAt, TrimMotion::chipActive))};
}

void follow(Strip& strip, const std::vector<ClipRange>& segments, int active, double now)
{
    const double at = strip.started ? now : TrimMotion::longAgo;
    strip.started = true;
    const auto rests = layout(segments);
    // Chips slide only when ranges come or go; a range's new times reshape its chip at once.
    std::vector<QUuid> before, after;
    for (const auto& chip : strip.chips)
        if (chip.listed)
            before.push_back(chip.range.id);
    for (const auto& range : segments)
        after.push_back(range.id);
    const bool reordered = before != after;
    std::vector<Chip> next;
    // The ones leaving go first, so that they fade under the chips that stay.
    for (auto& chip : strip.chips) {
        const bool kept = std::any_of(segments.begin(), segments.end(), [&chip](const ClipRange& range) {
            return range.id == chip.range.id;
        });
        if (kept)
            continue;
        if (chip.listed) {
            const auto seen = look(chip, now);
            chip.listed = false;
            chip.listedAt = at;
            chip.from = chip.to = seen.rect;
            chip.movedAt = TrimMotion::longAgo;
        }
        if (now - chip.listedAt < TrimMotion::settled())
            next.push_back(chip);
    }
    for (size_t i = 0; i < segments.size(); ++i) {
        const bool on = int(i) == active;
        auto found = std::find_if(strip.chips.begin(), strip.chips.end(), [&](const Chip& chip) {
            return chip.range.id == segments[i].id;
        });
        Chip chip;
        if (found == strip.chips.end()) {
            chip.listedAt = at;
            chip.active = on;
            chip.from = chip.to = rests[i];
        } else {
            chip = *found;
            if (!chip.listed) {
                chip.listed = true;
                chip.listedAt = at;
            }
            if (chip.to != rests[i] && reordered) {
                chip.from = look(chip, now).rect;
                chip.movedAt = at;
            }
            chip.to = rests[i];
            if (chip.active != on) {
                chip.active = on;
                chip.activeAt = at;
            }
        }
        chip.range = segments[i];
        chip.index = int(i);
        next.push_back(chip);
    }
    strip.chips = std::move(next);
}

void settle(Strip& strip)
{
    std::erase_if(strip.chips, [](const Chip& chip) {
        return !chip.listed;
    });
    for (auto& chip : strip.chips) {
        chip.listedAt = chip.activeAt = chip.movedAt = TrimMotion::longAgo;
        chip.from = chip.to;
    }
}

double restsAt(const Strip& strip)
{
    double last = TrimMotion::longAgo;
    for (const auto& chip : strip.chips)
        last = std::max({last, chip.listedAt, chip.activeAt, chip.movedAt});
    return last + TrimMotion::settled();
}

QSizeF extent(const Strip& strip)
{
    QSizeF size(0, QFontMetricsF(chipFont(true)).height() + 8);
    for (const auto& chip : strip.chips)
        size.setWidth(std::max({size.width(), chip.from.right(), chip.to.right()}));
    return size;
}

void paint(QPainter& painter, const Strip& strip, double now, const QColor& primary)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    auto idle = primary;
    idle.setAlphaF(0.07f);
    auto lit = TrimPaint::yellow;
    lit.setAlphaF(0.9f);
    for (const auto& chip : strip.chips) {
        const auto seen = look(chip, now);
        if (seen.opacity <= 0)
            continue;
        painter.setOpacity(seen.opacity);
        painter.setPen(Qt::NoPen);
        painter.setBrush(blend(idle, lit, seen.active));
        painter.drawRoundedRect(seen.rect, 6, 6);
        // The weight changes by cross-fading the two texts.
        const auto ink = blend(primary, Qt::black, seen.active);
        const auto label = text(chip.index, chip.range);
        for (const bool bold : {false, true}) {
            const double share = bold ? seen.active : 1 - seen.active;
            if (share <= 0.001)
                continue;
            painter.setOpacity(seen.opacity * share);
            painter.setFont(chipFont(bold));
            painter.setPen(ink);
            painter.drawText(seen.rect, Qt::AlignCenter, label);
        }
    }
    painter.restore();
}

}

// The chips, painted from the strip's changes and the time; a click on a resting chip makes its
// range active.
class ChipStrip : public QWidget {
public:
    ChipStrip(TrimSession& session, TrimClip& clip) : session_(session), clip_(clip)
    {
        frames_.onFrame([this] {
            update();
        });
        follow();
    }

    QSize sizeHint() const override
    {
        const auto size = Chips::extent(strip_);
        return {int(std::ceil(size.width())) + 1, int(std::ceil(size.height()))};
    }

    void follow()
    {
        Chips::follow(strip_, clip_.segments(), clip_.active(), MediaClock::now());
        frames_.runUntil(Chips::restsAt(strip_));
        resize(sizeHint());
        update();
    }

    void settle()
    {
        Chips::settle(strip_);
        resize(sizeHint());
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        Chips::paint(painter, strip_, MediaClock::now(), TrimPaint::primary(*this));
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
    Chips::Strip strip_;
    TrimMotion::Frames frames_;
};

SegmentsBar::SegmentsBar(TrimSession& session, TrimClip& clip, QWidget* parent)
    : QWidget(parent), session_(session), clip_(clip)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* title = new QLabel("Trechos");
    title->setFont(TrimPaint::font(12, QFont::Medium));
    TrimPaint::tint(*title, 0.55);
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

    auto button = [&](const QString& text, TrimPaint::Symbol symbol, const QString& help) {
        auto* made = new QPushButton(text);
        TrimPaint::giveSymbol(*made, symbol);
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
    TrimPaint::tint(*simple, 0.55);
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
    chips_->follow();
}

void SegmentsBar::settle() { chips_->settle(); }
