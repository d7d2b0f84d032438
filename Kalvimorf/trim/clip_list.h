#pragma once

#include "trim/trim_clip.h"

#include <QColor>
#include <QWidget>

class QPainter;
class TrimSession;

namespace ClipRows {
constexpr double height = 48;
constexpr double spacing = 4;
constexpr double padding = 8;
// "carregando…", "0:01.00 – 0:05.50" or "3 trechos · 0:12.30".
QString status(const TrimClip& clip);
// One row: thumbnail or symbol, name and status, scissors while trimmed; the selected row on the
// accent.
void paint(QPainter& painter, const TrimClip& clip, bool selected, const QRectF& row, const QColor& accent,
    const QColor& primary);
}

// The clips, one row each; a click selects.
class ClipList : public QWidget {
    Q_OBJECT
public:
    explicit ClipList(TrimSession& session, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRectF rowRect(size_t index) const;
    TrimSession& session_;
};
