#pragma once

#include "trim/trim_clip.h"
#include "trim/trim_motion.h"

#include <QColor>
#include <QUuid>
#include <QWidget>

#include <map>

class QPainter;
class TrimSession;

namespace ClipRows {
constexpr double height = 48;
constexpr double spacing = 4;
constexpr double padding = 8;
// "carregando…", "0:01.00 – 0:05.50" or "3 trechos · 0:12.30".
QString status(const TrimClip& clip);
// How far a row is into its two changes, 0 to 1: the selection's background (ease-out, 0.18 s)
// and the scissors of a trimmed clip (a spring of 0.3 s response, 0.7 damping), which grow from
// 0.3 of their size while fading in and shrink back while fading out.
struct RowLook {
    double selected = 0;
    double scissors = 0;
};
// Where those changes stand `elapsed` seconds after they began, towards `on` or away from it.
double selectionAt(double elapsed, bool on);
double scissorsAt(double elapsed, bool on);
// One row: thumbnail or symbol, name and status, scissors while trimmed (and while they go); the
// selected row on the accent.
void paint(QPainter& painter, const TrimClip& clip, RowLook look, const QRectF& row, const QColor& accent,
    const QColor& primary);
}

// The clips, one row each; a click selects.
class ClipList : public QWidget {
    Q_OBJECT
public:
    explicit ClipList(TrimSession& session, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    // Reads the session again: a row whose selection or trim changed starts moving now.
    void follow();
    // Every row at rest, for stills.
    void settle();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRectF rowRect(size_t index) const;

    struct Motion {
        bool selected = false;
        double selectedAt = TrimMotion::longAgo;
        bool trimmed = false;
        double trimmedAt = TrimMotion::longAgo;
    };
    TrimSession& session_;
    std::map<QUuid, Motion> motions_;
    TrimMotion::Frames frames_;
};
