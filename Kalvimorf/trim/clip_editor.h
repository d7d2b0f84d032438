#pragma once

#include <QLineEdit>
#include <QWidget>

#include <functional>

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

private:
    std::function<double()> get_;
    std::function<void(double)> set_;
};

// The selected clip's editor: preview, timeline, ranges and the transport row.
class ClipEditor : public QWidget {
    Q_OBJECT
public:
    ClipEditor(TrimSession& session, TrimClip& clip, QWidget* parent = nullptr);
    TrimClip& clip() const { return clip_; }
    // Reads the session and the clip again.
    void refresh();

private:
    TrimSession& session_;
    TrimClip& clip_;
    QWidget* preview_;
    TimelineBar* timeline_;
    SegmentsBar* segments_;
    QToolButton* play_;
    QLabel* playhead_;
    TimeField* start_;
    TimeField* end_;
    QPushButton* several_;
    QLabel* kept_;
};
