#include "trim/trim_clip.h"

#include "core/base/task.h"
#include "core/engines/trim_media.h"
#include "core/jobs/job_process.h"
#include "trim/preview_player.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <functional>

#include <algorithm>
#include <mutex>

namespace {

const Task::Context& loadContext();

// Loads run a child process each; 40 clips must not start 440 at once. When the application
// object goes, the children still running are ended and the threads waited for, since decoding
// a frame needs the application's plugin paths.
QThreadPool& loadPool()
{
    static QThreadPool* pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(std::max(QThread::idealThreadCount(), 1));
        qAddPostRoutine([] {
            loadPool().clear();
            loadContext().cancel->cancel();
            loadPool().waitForDone();
        });
        return made;
    }();
    return *pool;
}

// Bound to every load, so that ending the program ends their children.
const Task::Context& loadContext()
{
    static const Task::Context context{std::nullopt, std::nullopt, std::make_shared<Task::CancelToken>()};
    return context;
}

}

std::shared_ptr<const Process::Bounds> TrimClip::looking(const std::filesystem::path& file)
{
    // The loads running at once share one job's budget.
    return JobProcess::reading(file, JobBudget::bytes() / (unsigned long long)std::max(loadPool().maxThreadCount(), 1));
}

namespace {

// Every child a load starts reads the one file inside a job's bounds, as a conversion's would: a
// hostile clip meets the same fence and watch whether it is converted or only looked at.
void startLoad(const std::shared_ptr<const Process::Bounds>& bounds, std::function<void()> work)
{
    loadPool().start([bounds, work = std::move(work)] {
        auto context = loadContext();
        context.bounds = bounds;
        Task::Binder binder(std::move(context));
        work();
    });
}

constexpr int peakCount = 600;
constexpr int thumbCount = 10;
constexpr int thumbHeight = 90;

}

TrimClip::TrimClip(std::filesystem::path url, bool isVideo, QObject* parent)
    : QObject(parent), url(std::move(url)), isVideo(isVideo)
{
}

const ClipRange& TrimClip::current() const
{
    return segments_[size_t(std::min(int(segments_.size()) - 1, std::max(active_, 0)))];
}

double TrimClip::kept() const
{
    double total = 0;
    for (const auto& range : segments_)
        total += std::max(range.end - range.start, 0.0);
    return total;
}

bool TrimClip::isTrimmed() const
{
    if (segments_.size() >= 2)
        return true;
    if (segments_.front().start > 0.01)
        return true;
    if (!(duration_ > 0))
        return false;
    return segments_.front().end < duration_ - 0.01;
}

double TrimClip::lowerBound() const { return active_ < 1 ? 0 : segments_[size_t(active_ - 1)].end; }

double TrimClip::upperBound() const
{
    return active_ < int(segments_.size()) - 1 ? segments_[size_t(active_ + 1)].start : duration_;
}

void TrimClip::setStart(double value)
{
    auto& range = segments_[size_t(active_)];
    // The upper clamp after the lower: when the two cross, the range keeps its minimum length,
    // but never by starting before the file does (a clip that never loaded has 0 to 0).
    range.start = std::max(std::min(std::max(value, lowerBound()), range.end - minimumLength), 0.0);
    Q_EMIT changed();
}

void TrimClip::setEnd(double value)
{
    auto& range = segments_[size_t(active_)];
    range.end = std::max(std::min(value, upperBound()), range.start + minimumLength);
    Q_EMIT changed();
}

void TrimClip::setActive(int index)
{
    if (index < 0 || index >= int(segments_.size()))
        return;
    active_ = index;
    Q_EMIT changed();
}

void TrimClip::setSegments(std::vector<ClipRange> segments, int active)
{
    if (segments.empty())
        return;
    segments_ = std::move(segments);
    active_ = std::clamp(active, 0, int(segments_.size()) - 1);
    Q_EMIT changed();
}

void TrimClip::selectSegment(double t)
{
    for (size_t i = 0; i < segments_.size(); ++i)
        if (segments_[i].start <= t && t <= segments_[i].end) {
            setActive(int(i));
            return;
        }
}

bool TrimClip::split(double t)
{
    for (size_t i = 0; i < segments_.size(); ++i) {
        auto& range = segments_[i];
        if (!(range.start + minimumLength < t && t < range.end - minimumLength))
            continue;
        const double end = range.end;
        // The cut drops half of what remains of the range, half a second at most.
        const double gap = std::min((end - t) * 0.5, 0.5);
        range.end = t;
        segments_.insert(segments_.begin() + long(i) + 1, ClipRange{QUuid::createUuid(), t + gap, end});
        active_ = int(i) + 1;
        Q_EMIT changed();
        return true;
    }
    return false;
}

bool TrimClip::addSegment(double t)
{
    std::vector<std::pair<double, double>> gaps;
    double previous = 0;
    for (const auto& range : segments_) {
        if (range.start - previous > 0.1)
            gaps.emplace_back(previous, range.start);
        previous = range.end;
    }
    if (duration_ - previous > 0.1)
        gaps.emplace_back(previous, duration_);
    if (gaps.empty())
        return false;
    auto gap = std::find_if(gaps.begin(), gaps.end(), [t](const auto& g) {
        return g.first <= t && t < g.second;
    });
    if (gap == gaps.end())
        gap = std::find_if(gaps.begin(), gaps.end(), [t](const auto& g) {
            return t <= g.first;
        });
    if (gap == gaps.end())
        gap = gaps.begin();
    const auto [from, to] = *gap;
    ClipRange range;
    range.start = std::max(from, std::min(to - 0.1, t));
    range.end = std::min(range.start + 3.0, to);
    auto place = std::find_if(segments_.begin(), segments_.end(), [&](const ClipRange& other) {
        return other.start > range.start;
    });
    active_ = int(place - segments_.begin());
    segments_.insert(place, range);
    Q_EMIT changed();
    return true;
}

void TrimClip::removeActive()
{
    if (segments_.size() < 2)
        return;
    segments_.erase(segments_.begin() + active_);
    active_ = std::min(int(segments_.size()) - 1, active_);
    Q_EMIT changed();
}

void TrimClip::mergeToSingle()
{
    segments_ = {ClipRange{QUuid::createUuid(), segments_.front().start, segments_.back().end}};
    active_ = 0;
    Q_EMIT changed();
}

void TrimClip::applyProbe(std::optional<double> duration, bool playable)
{
    duration_ = duration.value_or(0);
    segments_ = {ClipRange{QUuid::createUuid(), 0, duration_}};
    active_ = 0;
    playable_ = playable;
    loaded_ = true;
    Q_EMIT changed();
}

void TrimClip::setPeaks(std::vector<float> peaks)
{
    peaks_ = std::move(peaks);
    peaksIn_ = true;
    Q_EMIT changed();
}

void TrimClip::setThumbs(std::vector<QImage> thumbs)
{
    thumbs_ = std::move(thumbs);
    thumbsIn_ = true;
    Q_EMIT changed();
}

void TrimClip::makeThumbs(const std::filesystem::path& file, double duration,
    std::function<void(std::vector<QImage>)> done, const std::vector<std::string>& taken)
{
    struct Strip {
        std::mutex mutex;
        std::vector<std::optional<QImage>> frames = std::vector<std::optional<QImage>>(thumbCount);
        int remaining = thumbCount;
        std::function<void(std::vector<QImage>)> done;
    };
    auto strip = std::make_shared<Strip>();
    strip->done = std::move(done);
    const auto bounds = looking(file);
    for (int i = 0; i < thumbCount; ++i)
        startLoad(bounds, [file, strip, i, at = (i + 0.5) * duration / thumbCount, taken] {
            auto image = TrimMedia::frame(file, at, thumbHeight, taken);
            std::vector<QImage> thumbs;
            {
                std::lock_guard lock(strip->mutex);
                strip->frames[size_t(i)] = std::move(image);
                if (--strip->remaining > 0)
                    return;
                for (auto& frame : strip->frames)
                    if (frame)
                        thumbs.push_back(std::move(*frame));
            }
            strip->done(std::move(thumbs));
        });
}

void TrimClip::load()
{
    // Results hop back through a guard: a clip whose editor has closed takes nothing.
    QPointer<TrimClip> guard(this);
    const auto file = url;
    const bool video = isVideo;
    const auto bounds = looking(file);
    startLoad(bounds, [guard, file, video, bounds] {
        // Listed once for every look: a file of many streams is probed, drawn and heard through
        // its first picture and sound.
        const auto taken = TrimMedia::streamsTaken(file);
        const auto duration = TrimMedia::length(file, taken);
        MainThread::post([guard, file, duration, taken] {
            if (!guard)
                return;
            guard->taken_ = taken;
            PreviewPlayers::current().checkPlayable(file, guard, [guard, duration](bool playable) {
                if (guard)
                    guard->applyProbe(duration, playable);
            });
        });
        startLoad(bounds, [guard, file, taken] {
            auto peaks = TrimMedia::peaks(file, peakCount, taken);
            MainThread::post([guard, peaks = std::move(peaks)]() mutable {
                if (guard)
                    guard->setPeaks(std::move(peaks));
            });
        });
        if (!video || !duration || !(*duration > 0))
            return;
        makeThumbs(
            file, *duration,
            [guard](std::vector<QImage> thumbs) {
                MainThread::post([guard, thumbs = std::move(thumbs)]() mutable {
                    if (guard)
                        guard->setThumbs(std::move(thumbs));
                });
            },
            taken);
    });
}
