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
#include <QWheelEvent>

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

double scrolled(const std::vector<QRectF>& rests, int active, double offset, double width)
{
    if (rests.empty())
        return 0;
    const auto left = [&rests](int index) {
        return rests[size_t(index)].left();
    };
    const int last = int(rests.size()) - 1;
    // Start from the chip at the offset, or the last one before it.
    int first = 0;
    while (first < last && left(first + 1) <= offset + 0.5)
        ++first;
    // No empty room at the end while an earlier chip would fit there.
    while (first > 0 && rests.back().right() - left(first - 1) <= width + 0.5)
        --first;
    active = std::clamp(active, 0, last);
    if (active < first)
        first = active;
    // Forward until the active chip ends inside, but never past it.
    while (first < active && rests[size_t(active)].right() - left(first) > width + 0.5)
        ++first;
    return left(first);
}

std::vector<int> shown(const std::vector<QRectF>& rests, double offset, double width)
{
    std::vector<int> result;
    for (size_t i = 0; i < rests.size(); ++i)
        if (rests[i].left() >= offset - 0.5 && rests[i].right() <= offset + width + 0.5)
            result.push_back(int(i));
    return result;
}

void paint(QPainter& painter, const Strip& strip, double now, const QColor& primary, const QRectF& view)
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
        if (!view.isNull() && (chip.to.left() < view.left() - 0.5 || chip.to.right() > view.right() + 0.5))
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

// The chips, painted from the strip's changes and the time, scrolled a chip at a time so that
// every chip on screen is whole and the active one always is; a click on a resting chip makes its
// range active.
class ChipStrip : public QWidget {
public:
    ChipStrip(TrimSession& session, TrimClip& clip) : session_(session), clip_(clip)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
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

    // Room for the widest chip, so that the active one always shows whole.
    QSize minimumSizeHint() const override
    {
        double widest = 0;
        for (const auto& rest : Chips::layout(clip_.segments()))
            widest = std::max(widest, rest.width());
        return {int(std::ceil(widest)) + 1, sizeHint().height()};
    }

    void follow()
    {
        Chips::follow(strip_, clip_.segments(), clip_.active(), MediaClock::now());
        frames_.runUntil(Chips::restsAt(strip_));
        updateGeometry();
        // The view follows the active chip when it or the list changes, not while the user has
        // scrolled elsewhere and only the times move.
        const auto state = std::pair(clip_.active(), clip_.segments().size());
        if (state != followed_) {
            followed_ = state;
            scroll(offset_);
        }
        update();
    }

    void settle()
    {
        Chips::settle(strip_);
        scroll(offset_);
    }

    std::vector<int> shown() const { return Chips::shown(Chips::layout(clip_.segments()), offset_, width()); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.translate(-offset_, 0);
        Chips::paint(
            painter, strip_, MediaClock::now(), TrimPaint::primary(*this), QRectF(offset_, 0, width(), height()));
    }

    void resizeEvent(QResizeEvent*) override { scroll(offset_); }

    // A notch of the wheel, either way, is a chip; the active one stays in view.
    void wheelEvent(QWheelEvent* event) override
    {
        const auto delta = event->angleDelta();
        const int step = (std::abs(delta.x()) > std::abs(delta.y()) ? delta.x() : delta.y()) > 0 ? -1 : 1;
        const auto rests = Chips::layout(clip_.segments());
        const auto visible = Chips::shown(rests, offset_, width());
        if (rests.empty() || visible.empty())
            return;
        const int first = std::clamp(visible.front() + step, 0, int(rests.size()) - 1);
        // Scrolling towards the end stops once the last chip shows.
        if (step > 0 && visible.back() == int(rests.size()) - 1)
            return;
        offset_ = rests[size_t(first)].left();
        update();
        event->accept();
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        const auto rests = Chips::layout(clip_.segments());
        const QPointF point = event->position() + QPointF(offset_, 0);
        for (int i : Chips::shown(rests, offset_, width())) {
            if (!rests[size_t(i)].contains(point))
                continue;
            auto* selected = session_.selected();
            if (!selected || i >= int(selected->segments().size()))
                return;
            selected->setActive(i);
            session_.seek(selected->current().start);
            return;
        }
    }

private:
    void scroll(double from)
    {
        offset_ = Chips::scrolled(Chips::layout(clip_.segments()), clip_.active(), from, width());
        update();
    }

    TrimSession& session_;
    TrimClip& clip_;
    Chips::Strip strip_;
    TrimMotion::Frames frames_;
    double offset_ = 0;
    std::pair<int, size_t> followed_{-1, 0};
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
    row->addWidget(chips_, 1);

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

QWidget* SegmentsBar::strip() const { return chips_; }

std::vector<int> SegmentsBar::shownChips() const { return chips_->shown(); }
