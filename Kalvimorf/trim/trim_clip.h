#pragma once

#include "core/base/process.h"

#include <QImage>
#include <QObject>
#include <QUuid>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One kept stretch of a clip, in seconds from the file's start.
struct ClipRange {
    QUuid id = QUuid::createUuid();
    double start = 0;
    double end = 0;

    bool operator==(const ClipRange&) const = default;
};

// One file of the trim editor: its length, the ranges the export keeps (ordered, never
// overlapping, never empty) with the one being edited, and its waveform and thumbnails, which
// arrive from a load off the main thread. Main thread only.
class TrimClip : public QObject {
    Q_OBJECT
public:
    // The shortest range the start and end setters leave.
    static constexpr double minimumLength = 0.05;

    TrimClip(std::filesystem::path url, bool isVideo, QObject* parent = nullptr);

    const QUuid id = QUuid::createUuid();
    const std::filesystem::path url;
    const bool isVideo;

    double duration() const { return duration_; }
    const std::vector<ClipRange>& segments() const { return segments_; }
    int active() const { return active_; }
    const std::vector<QImage>& thumbs() const { return thumbs_; }
    const std::vector<float>& peaks() const { return peaks_; }
    bool loaded() const { return loaded_; }
    // Everything the load hands back has arrived: the probe, the peaks and, for a video with a
    // length, the thumbnails (any of them possibly empty).
    bool complete() const { return loaded_ && peaksIn_ && (thumbsIn_ || !isVideo || !(duration_ > 0)); }
    bool playable() const { return playable_; }
    // The streams its looks take (TrimMedia::streamsTaken()), once the load has listed them.
    const std::vector<std::string>& taken() const { return taken_; }

    const ClipRange& current() const;
    double kept() const;
    bool isTrimmed() const;
    double start() const { return current().start; }
    double end() const { return current().end; }
    // Clamped between the neighbours (0 and the duration at the ends) and at least
    // minimumLength from the other end of the active range; a start is never below 0.
    void setStart(double value);
    void setEnd(double value);

    // Out-of-range indices are ignored.
    void setActive(int index);
    void setSegments(std::vector<ClipRange> segments, int active);
    // The first range holding t (ends included) becomes active; in a gap nothing changes.
    void selectSegment(double t);
    // Cuts the range holding t with a short gap, the piece after it active; false when t is not
    // inside a range by more than minimumLength from both ends.
    bool split(double t);
    // A new range of up to 3 s in the free stretch at or after t; false with no stretch wider
    // than 0.1 s.
    bool addSegment(double t);
    void removeActive();
    // One range from the first start to the last end.
    void mergeToSingle();

    // Starts the load: probe, playability, peaks and thumbnails off the main thread, each
    // result handed back here. Results for a clip that is gone are dropped.
    void load();
    // What the load hands back, in this order.
    void applyProbe(std::optional<double> duration, bool playable);
    void setPeaks(std::vector<float> peaks);
    void setThumbs(std::vector<QImage> thumbs);

    // The ten thumbnails of a file `duration` seconds long, at the centres of ten equal slices,
    // made side by side with the other loads; `done` gets those that came, in order, on a
    // background thread.
    static void makeThumbs(const std::filesystem::path& file, double duration,
        std::function<void(std::vector<QImage>)> done, const std::vector<std::string>& taken = {});
    // The bounds every child of a look at `file` runs in (its length, waveform, thumbnails and the
    // editor's still frames): the file alone to read, and the share of a job's budget that one of
    // the loads running at once may hold.
    static std::shared_ptr<const Process::Bounds> looking(const std::filesystem::path& file);

Q_SIGNALS:
    void changed();

private:
    double lowerBound() const;
    double upperBound() const;

    double duration_ = 0;
    std::vector<ClipRange> segments_{ClipRange{}};
    int active_ = 0;
    std::vector<QImage> thumbs_;
    std::vector<float> peaks_;
    bool loaded_ = false;
    bool peaksIn_ = false;
    bool thumbsIn_ = false;
    bool playable_ = false;
    std::vector<std::string> taken_;
};
