#include "trim/clip_editor.h"

#include "core/engines/time_text.h"
#include "core/state/media_clock.h"
#include "trim/segments_bar.h"
#include "trim/timeline_bar.h"
#include "trim/trim_look.h"
#include "trim/trim_session.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The transport row's gaps: between its controls, and on each side of the arrow between the two
// times.
constexpr int rowGap = 8;
constexpr int arrowGap = 5;

const QString severalText = QStringLiteral("Vários cortes");
const QString severalHelp = QStringLiteral("Marcar vários trechos neste arquivo e uni-los na exportação");

QString timeText(double seconds) { return QString::fromStdString(TimeText::format(seconds)); }

// The width of the widest time past the hour in `font`, each digit the font's widest.
int widestHour(const QFont& font)
{
    const QFontMetrics metrics(font);
    QChar widest = '0';
    for (QChar digit = '1'; digit <= '9'; digit = QChar(digit.unicode() + 1))
        if (metrics.horizontalAdvance(digit) > metrics.horizontalAdvance(widest))
            widest = digit;
    return metrics.horizontalAdvance(QString("0:00:00.00").replace('0', widest));
}

// The picture: the player's frame or a still, fitted on black, or for sound a plain card.
class Preview : public QWidget {
public:
    Preview(TrimSession& session, TrimClip& clip) : session_(session), clip_(clip)
    {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setMinimumHeight(60);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 10, 10);
        painter.setClipPath(shape);
        const QRectF area(rect());
        if (!clip_.isVideo) {
            painter.fillRect(area, QColor(0, 0, 0, int(0.04 * 255)));
            const auto secondary = TrimPaint::secondary(*this);
            const auto title = TrimPaint::font(13, QFont::DemiBold), caption = TrimPaint::font(10);
            const double block = 40 + 8 + QFontMetricsF(title).height() + 8 + QFontMetricsF(caption).height();
            double y = area.center().y() - block / 2;
            TrimPaint::symbol(
                painter, TrimPaint::Symbol::waveform, QRectF(area.center().x() - 20, y, 40, 40), secondary);
            y += 48;
            painter.setFont(title);
            painter.setPen(TrimPaint::primary(*this));
            painter.drawText(QRectF(area.left(), y, area.width(), QFontMetricsF(title).height()), Qt::AlignCenter,
                QString::fromStdString(clip_.url.filename().string()));
            y += QFontMetricsF(title).height() + 8;
            painter.setFont(caption);
            painter.setPen(secondary);
            painter.drawText(QRectF(area.left(), y, area.width(), QFontMetricsF(caption).height()), Qt::AlignCenter,
                "Duração original " + timeText(clip_.duration()));
            return;
        }
        painter.fillRect(area, Qt::black);
        const QImage picture = session_.player().hasSource() ? session_.player().frame() : session_.poster();
        if (!picture.isNull()) {
            const auto fitted = QSizeF(picture.size()).scaled(area.size(), Qt::KeepAspectRatio);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRectF(area.center().x() - fitted.width() / 2, area.center().y() - fitted.height() / 2,
                                  fitted.width(), fitted.height()),
                picture);
        } else if (!session_.player().hasSource()) {
            // A still is on its way.
            // On the views' clock like every other motion, so that a still is the same each time.
            const double turn = std::fmod(MediaClock::now(), 1.0);
            painter.setPen(QPen(QColor(255, 255, 255, 160), 2, Qt::SolidLine, Qt::RoundCap));
            painter.drawArc(
                QRectF(area.center().x() - 8, area.center().y() - 8, 16, 16), int(-turn * 360 * 16), 270 * 16);
        }
    }

private:
    TrimSession& session_;
    TrimClip& clip_;
};

// Holds one child at its bottom, as wide as itself; whatever sticks out above is clipped.
class BottomRoom : public QWidget {
public:
    explicit BottomRoom(QWidget* child) : child_(child) { child->setParent(this); }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        const int height = child_->sizeHint().height();
        child_->setGeometry(0, this->height() - height, width(), height);
    }

private:
    QWidget* child_;
};

}

namespace ClipEditorMotion {

Reveal ranges(double shown, double barHeight)
{
    const double room = std::max(shown, 0.0) * (12 + barHeight);
    return {room, room - barHeight, TrimMotion::clamp01(shown)};
}

Narrow severalButton(double shown, double width)
{
    const double share = 1 - shown;
    return {std::max(share, 0.0) * width, TrimMotion::clamp01(share)};
}

}

TimeField::TimeField(std::function<double()> get, std::function<void(double)> set, QWidget* parent)
    : QLineEdit(parent), get_(std::move(get)), set_(std::move(set))
{
    setFixedWidth(80);
    setPlaceholderText("0:00.00");
    // Typed into only when clicked: the editor's keys go to the session until then.
    setFocusPolicy(Qt::ClickFocus);
    connect(this, &QLineEdit::editingFinished, this, [this] {
        if (!dropping_)
            if (auto value = TimeParse::parse(text().toStdString()))
                set_(*value);
        setText(timeText(get_()));
    });
    refresh();
}

bool TimeField::event(QEvent* event)
{
    // Asked first, so that no shortcut of the window takes the Escape meant for the edit.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape
        && hasFocus()) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void TimeField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    dropping_ = true;
    setText(timeText(get_()));
    clearFocus();
    dropping_ = false;
}

void TimeField::refresh()
{
    if (hasFocus())
        return;
    const auto shown = timeText(get_());
    if (text() != shown)
        setText(shown);
}

ClipEditor::ClipEditor(TrimSession& session, TrimClip& clip, QWidget* parent)
    : QWidget(parent), session_(session), clip_(clip)
{
    frames_.onFrame([this] {
        showFrame(MediaClock::now());
    });
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    // The gaps are laid by hand: the ranges bar's room brings its own, so that it opens from
    // nothing.
    column->setSpacing(0);
    preview_ = new Preview(session, clip);
    column->addWidget(preview_, 1);
    column->addSpacing(12);
    timeline_ = new TimelineBar(session, clip);
    column->addWidget(timeline_);
    segments_ = new SegmentsBar(session, clip);
    rangesRoom_ = new BottomRoom(segments_);
    rangesRoom_->setMinimumWidth(segments_->minimumSizeHint().width());
    column->addWidget(rangesRoom_);
    column->addSpacing(12);

    // The flexible spaces take the gap between groups themselves, so that a gap beside one is not
    // laid twice: the row is as narrow as its controls and their gaps. Qt's buttons and fields
    // carry a bevel and inner margins of their own, so 8 between them looks as the 12 the row was
    // drawn with, and the arrow between the two fields sits closer still. Every text of the row is
    // at its 12 px, and the times are as wide as an hour's time needs: that leaves room for
    // "Vários cortes" by name at the editor's own size.
    transport_ = new QHBoxLayout;
    auto* transport = transport_;
    transport->setSpacing(0);
    const auto gap = [transport](int width = rowGap) {
        transport->addSpacing(width);
    };
    const auto flexible = [transport] {
        transport->addSpacing(rowGap);
        transport->addStretch(1);
    };
    play_ = new QToolButton;
    play_->setAutoRaise(true);
    play_->setFixedWidth(24);
    play_->setFocusPolicy(Qt::NoFocus);
    connect(play_, &QToolButton::clicked, &session, &TrimSession::togglePlay);
    transport->addWidget(play_);
    gap();
    playhead_ = new QLabel;
    playhead_->setFont(TrimPaint::font(12));
    const int hourWidth = widestHour(playhead_->font());
    playhead_->setFixedWidth(hourWidth + 2);
    transport->addWidget(playhead_);
    flexible();

    auto markButton = [&](const QString& text, bool start) {
        auto* button = new QPushButton(text);
        button->setFont(TrimPaint::font(12));
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, [this, start] {
            if (auto* selected = session_.selected()) {
                start ? selected->setStart(session_.playhead()) : selected->setEnd(session_.playhead());
                session_.announce();
            }
        });
        return button;
    };
    auto* markStart = markButton("Marcar início", true);
    transport->addWidget(markStart);
    gap();
    // The active range's ends, through the clip's clamping setters.
    auto endField = [&clip](bool start) {
        return new TimeField(
            [&clip, start] {
                return start ? clip.start() : clip.end();
            },
            [&clip, start](double value) {
                start ? clip.setStart(value) : clip.setEnd(value);
            });
    };
    // The field's frame and inner margins take 4 px on each side of the text.
    const auto narrow = [hourWidth](TimeField* field) {
        field->setFont(TrimPaint::font(12));
        field->setFixedWidth(hourWidth + 8);
    };
    start_ = endField(true);
    narrow(start_);
    start_->setObjectName("Início");
    start_->setToolTip("Início");
    transport->addWidget(start_);
    gap(arrowGap);
    auto* arrow = new QLabel("→");
    TrimPaint::tint(*arrow, 0.55);
    transport->addWidget(arrow);
    gap(arrowGap);
    end_ = endField(false);
    narrow(end_);
    end_->setObjectName("Fim");
    end_->setToolTip("Fim");
    transport->addWidget(end_);
    gap();
    auto* markEnd = markButton("Marcar fim", false);
    transport->addWidget(markEnd);
    flexible();

    // "Vários cortes" sits in a room of its own with the gap after it, so that it can narrow to
    // nothing.
    auto* several = severalButton_ = new QPushButton(severalText);
    several->setFont(TrimPaint::font(12));
    several->setObjectName(severalText);
    TrimPaint::giveSymbol(*several, TrimPaint::Symbol::scissors);
    severalNamedWidth_ = several->sizeHint().width();
    // One height for the row's buttons, so that the row keeps its height as this one narrows away.
    for (auto* button : {markStart, markEnd, several})
        button->setFixedHeight(several->sizeHint().height());
    several->setFocusPolicy(Qt::NoFocus);
    several->setToolTip(severalHelp);
    connect(several, &QPushButton::clicked, this, [this] {
        session_.setAdvanced(true);
    });
    severalRoom_ = new QWidget;
    auto* severalRow = new QHBoxLayout(severalRoom_);
    severalRow->setContentsMargins(0, 0, rowGap, 0);
    severalRow->addWidget(several);
    auto* ending = new QHBoxLayout;
    ending->setSpacing(0);
    ending->addWidget(severalRoom_);
    kept_ = new QLabel;
    kept_->setFont(TrimPaint::font(12));
    TrimPaint::tint(*kept_, 0.55);
    ending->addWidget(kept_);
    transport->addLayout(ending);
    column->addLayout(transport);
    several_ = session_.advanced() || clip_.segments().size() >= 2;
    refresh();
}

// Where the row cannot hold "Vários cortes" by name beside the rest, the button shows its
// scissors alone and keeps its name in the tooltip, so that nothing is cut at the edge.
void ClipEditor::fitSeveral()
{
    const auto margins = layout()->contentsMargins();
    const int room = width() - margins.left() - margins.right();
    // The row without the button's room, then with the button named and its gap; its groups' hints
    // read afresh, as the duration's text may just have changed.
    for (int i = 0; i < transport_->count(); ++i)
        if (auto* group = transport_->itemAt(i)->layout())
            group->invalidate();
    transport_->invalidate();
    const int rest
        = transport_->sizeHint().width() - std::min(severalRoom_->sizeHint().width(), severalRoom_->maximumWidth());
    const bool fits = rest + severalNamedWidth_ + rowGap <= room;
    const QString text = fits ? severalText : QString();
    if (severalButton_->text() != text) {
        severalButton_->setText(text);
        severalButton_->setToolTip((fits ? QString() : severalText + ": ") + severalHelp);
        showFrame(MediaClock::now());
    }
}

void ClipEditor::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitSeveral();
}

void ClipEditor::showFrame(double now)
{
    const double shown = TrimMotion::towards(several_, now - severalAt_, TrimMotion::several);
    const auto reveal = ClipEditorMotion::ranges(shown, segments_->sizeHint().height());
    rangesRoom_->setVisible(reveal.height > 0);
    rangesRoom_->setFixedHeight(int(std::lround(reveal.height)));
    TrimPaint::fade(*rangesRoom_, reveal.opacity);
    const auto narrow = ClipEditorMotion::severalButton(shown, severalRoom_->layout()->sizeHint().width());
    severalRoom_->setVisible(narrow.width > 0);
    severalRoom_->setMaximumWidth(int(std::lround(narrow.width)));
    TrimPaint::fade(*severalRoom_, narrow.opacity);
}

void ClipEditor::settle()
{
    severalAt_ = TrimMotion::longAgo;
    segments_->settle();
    showFrame(MediaClock::now());
}

void ClipEditor::refresh()
{
    const bool several = session_.advanced() || clip_.segments().size() >= 2;
    const double now = MediaClock::now();
    if (several != several_) {
        several_ = several;
        severalAt_ = now;
        frames_.runUntil(now + TrimMotion::settled());
    }
    segments_->refresh();
    showFrame(now);
    const bool playing = session_.isPlaying();
    if (play_->property("playing") != QVariant(playing) || play_->icon().isNull()) {
        TrimPaint::giveSymbol(*play_, playing ? TrimPaint::Symbol::pause : TrimPaint::Symbol::play);
        play_->setProperty("playing", playing);
    }
    play_->setEnabled(session_.player().hasSource());
    const auto playhead = timeText(session_.playhead());
    if (playhead_->text() != playhead)
        playhead_->setText(playhead);
    start_->refresh();
    end_->refresh();
    const auto kept = "Duração final " + timeText(clip_.kept());
    if (kept_->text() != kept) {
        kept_->setText(kept);
        // A longer duration may leave no room for the button's name, a shorter one give it back.
        fitSeveral();
    }
    preview_->update();
    timeline_->update();
}
