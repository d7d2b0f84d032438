#pragma once

#include "trim/trim_motion.h"

#include <QLineEdit>
#include <QWidget>

#include <functional>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;
class SegmentsBar;
class TimelineBar;
class TrimClip;
class TrimSession;

// A time field: shows the bound value, commits what parses when editing ends and shows the value
// again otherwise. Leaves its text alone while it has the focus.
class TimeField : public QLineEdit {
    Q_OBJECT
public:
    TimeField(std::function<double()> get, std::function<void(double)> set, QWidget* parent = nullptr);
    void refresh();

protected:
    // Escape drops what was typed: the field shows the value again and lets the keyboard go.
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<double()> get_;
    std::function<void(double)> set_;
    bool dropping_ = false;
};

// The ranges bar and "Vários cortes" trade places when the session turns to several ranges or
// back: `shown` is how far the bar is in (0 gone, 1 in place; the spring swings a little past).
namespace ClipEditorMotion {
// The bar's room below the timeline, with the gap above it, grows with it; the bar slides down
// into it from behind the timeline while it fades in.
struct Reveal {
    double height;
    double top;
    double opacity;
};
Reveal ranges(double shown, double barHeight);
// "Vários cortes" narrows to nothing while it fades out.
struct Narrow {
    double width;
    double opacity;
};
Narrow severalButton(double shown, double width);
}

// The selected clip's editor: preview, timeline, ranges and the transport row.
class ClipEditor : public QWidget {
    Q_OBJECT
public:
    ClipEditor(TrimSession& session, TrimClip& clip, QWidget* parent = nullptr);
    TrimClip& clip() const { return clip_; }
    // Reads the session and the clip again; a change between one range and several starts
    // moving now.
    void refresh();
    // Every change at rest, for stills.
    void settle();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lays out the ranges bar and "Vários cortes" as they stand at `now`.
    void showFrame(double now);
    void fitSeveral();

    TrimSession& session_;
    TrimClip& clip_;
    QWidget* preview_;
    TimelineBar* timeline_;
    QWidget* rangesRoom_;
    SegmentsBar* segments_;
    QWidget* severalRoom_;
    QPushButton* severalButton_;
    int severalNamedWidth_ = 0;
    QHBoxLayout* transport_;
    bool several_ = false;
    double severalAt_ = TrimMotion::longAgo;
    TrimMotion::Frames frames_;
    QToolButton* play_;
    QLabel* playhead_;
    TimeField* start_;
    TimeField* end_;
    QLabel* kept_;
};
