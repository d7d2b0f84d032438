#pragma once

#include "trim/trim_clip.h"

#include <QColor>
#include <QIcon>
#include <QWidget>

class QPainter;
class QPushButton;
class TrimSession;

namespace Chips {
// "2  0:12.50 – 1:05.20".
QString text(int index, const ClipRange& range);
// Where each chip of the ranges stands, left to right, 6 apart.
std::vector<QRectF> layout(const std::vector<ClipRange>& segments);
void paint(QPainter& painter, const std::vector<ClipRange>& segments, int active, const QColor& primary);
}

// The clip editor's row of ranges: a chip per range (a click makes it active and seeks to its
// start) and the commands new range, split, remove and back to a single cut.
class SegmentsBar : public QWidget {
    Q_OBJECT
public:
    SegmentsBar(TrimSession& session, TrimClip& clip, QWidget* parent = nullptr);
    // Reads the clip again.
    void refresh();

private:
    TrimSession& session_;
    TrimClip& clip_;
    QWidget* chips_;
    QPushButton* remove_;
};

// A symbol as a button icon.
QIcon symbolIcon(int which, const QColor& colour);
