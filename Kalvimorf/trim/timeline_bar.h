#pragma once

#include "trim/trim_clip.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <utility>
#include <vector>

class QPainter;
class TrimSession;

// What the timeline shows of a clip at one moment.
struct TimelineState {
    bool isVideo = true;
    double duration = 0;
    std::vector<QImage> thumbs;
    std::vector<float> peaks;
    std::vector<ClipRange> segments{ClipRange{}};
    int active = 0;
    double playhead = 0;

    static TimelineState of(const TrimClip& clip, double playhead);
};

namespace Timeline {
// Room around the strip for the handles' grown hit areas and the playhead's overhang.
constexpr double margin = 6;
// The strip inside a bar of `size`.
QRectF strip(QSizeF size);
// Time to position within a strip `width` wide, and back (clamped to the clip).
double x(double t, double duration, double width);
double t(double x, double duration, double width);
// The stretches the export leaves out.
std::vector<std::pair<double, double>> gaps(const std::vector<ClipRange>& segments, double duration);

// Everything, in layers: thumbnails and waveform, gap shades, range outlines with their numbers,
// the playhead, the two handles of the active range.
void paint(QPainter& painter, const TimelineState& state, QSizeF size, const QColor& wave, const QColor& primary);
void paintWaveform(QPainter& painter, const std::vector<float>& peaks, const QRectF& area, const QColor& colour);

// What a press at `point` takes: the end handle lies above the start handle, both above the strip.
enum class Hit { none, strip, startHandle, endHandle };
Hit hit(const TimelineState& state, QSizeF size, QPointF point);
}

// The clip editor's timeline: a press or drag on the strip seeks (and picks the range under
// it), a drag on a handle moves that end of the active range.
class TimelineBar : public QWidget {
    Q_OBJECT
public:
    TimelineBar(TrimSession& session, TrimClip& clip, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void drag(QPointF point);

    TrimSession& session_;
    TrimClip& clip_;
    Timeline::Hit dragging_ = Timeline::Hit::none;
};
