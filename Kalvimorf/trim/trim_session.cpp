#include "trim/trim_session.h"

#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/trim_media.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_process.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "core/jobs/request.h"

#include <QApplication>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

namespace {

// How far before a range the playhead may stand and still count as inside it: a seek lands a
// little early on some files.
constexpr double leadIn = 0.12;

}

std::function<void()>& TrimSession::beep()
{
    static std::function<void()> sound = [] {
        QApplication::beep();
    };
    return sound;
}

TrimSession::TrimSession(const std::vector<std::filesystem::path>& urls, MediaKind kind, QObject* parent)
    : QObject(parent), kind_(kind), player_(PreviewPlayers::current().make())
{
    for (const auto& url : Catalog::sorted(urls)) {
        auto* clip = new TrimClip(url, kind == MediaKind::video, this);
        connect(clip, &TrimClip::changed, this, &TrimSession::changed);
        clips_.push_back(clip);
    }
    for (auto* clip : clips_)
        clip->load();
    ticker_.setInterval(1000 / 30);
    ticker_.setTimerType(Qt::PreciseTimer);
    connect(&ticker_, &QTimer::timeout, this, [this] {
        tick(player_->position());
    });
    ticker_.start();
    connect(player_.get(), &PreviewPlayer::frameChanged, this, &TrimSession::changed);
    posterDelay_.setSingleShot(true);
    posterDelay_.setInterval(120);
    connect(&posterDelay_, &QTimer::timeout, this, [this] {
        auto* clip = selected();
        if (!clip)
            return;
        QPointer<TrimSession> guard(this);
        QThreadPool::globalInstance()->start([guard, generation = posterGeneration_, file = clip->url,
                                                 taken = clip->taken(), at = posterAt_] {
            auto context = Task::current();
            context.bounds = TrimClip::looking(file);
            Task::Binder binder(std::move(context));
            auto image = TrimMedia::frame(file, at, 540, taken);
            MainThread::post([guard, generation, image = std::move(image)] {
                if (!guard || guard->posterGeneration_ != generation)
                    return;
                guard->poster_ = image.value_or(QImage());
                guard->announce();
            });
        });
    });
    if (!clips_.empty())
        setSelectedID(clips_.front()->id);
}

TrimSession::~TrimSession() = default;

TrimClip* TrimSession::selected() const
{
    if (!selectedID_)
        return nullptr;
    auto found = std::find_if(clips_.begin(), clips_.end(), [&](const TrimClip* clip) {
        return clip->id == *selectedID_;
    });
    return found == clips_.end() ? nullptr : *found;
}

void TrimSession::setSelectedID(std::optional<QUuid> id)
{
    if (id == selectedID_)
        return;
    selectedID_ = id;
    didSelect();
    announce();
}

void TrimSession::setAdvanced(bool on)
{
    advanced_ = on;
    announce();
}

void TrimSession::announce() { Q_EMIT changed(); }

std::vector<std::pair<std::string, std::string>> TrimSession::outputChoices() const
{
    if (kind_ == MediaKind::video)
        return {{"", "Manter formato"}, {"mp4", "MP4"}, {"mov", "MOV"}, {"mkv", "MKV"}, {"webm", "WEBM"},
            {"mp3", "Só áudio · MP3"}, {"m4a", "Só áudio · M4A"}};
    return {{"", "Manter formato"}, {"mp3", "MP3"}, {"m4a", "M4A"}, {"wav", "WAV"}, {"flac", "FLAC"}, {"aiff", "AIFF"},
        {"ogg", "OGG"}, {"opus", "OPUS"}};
}

void TrimSession::didSelect()
{
    auto* clip = selected();
    if (!clip)
        return;
    player_->pause();
    isPlaying_ = false;
    // A clip known to be unplayable shows still frames; one still loading gets its chance.
    if (clip->loaded() && !clip->playable())
        player_->setSource({});
    else
        player_->setSource(clip->url);
    seek(clip->current().start);
}

void TrimSession::seekPlayer(double t)
{
    ++pendingSeeks_;
    QPointer<TrimSession> guard(this);
    player_->seek(t, [guard] {
        if (guard)
            guard->pendingSeeks_ = std::max(guard->pendingSeeks_ - 1, 0);
    });
}

void TrimSession::showStill(double t)
{
    posterAt_ = t;
    ++posterGeneration_;
    posterDelay_.start();
}

void TrimSession::seek(double t)
{
    auto* clip = selected();
    if (!clip)
        return;
    const double limit = clip->duration() > 0 ? clip->duration() : t;
    playhead_ = std::min(std::max(t, 0.0), limit);
    if (player_->hasSource())
        seekPlayer(playhead_);
    else if (clip->isVideo)
        showStill(playhead_);
    announce();
}

void TrimSession::tick(double t)
{
    auto* clip = selected();
    if (!isPlaying_ || pendingSeeks_ != 0 || !clip || !std::isfinite(t))
        return;
    playhead_ = t;
    const auto& ranges = clip->segments();
    const bool inside = std::any_of(ranges.begin(), ranges.end(), [t](const ClipRange& range) {
        return range.start - leadIn <= t && t < range.end;
    });
    if (!inside) {
        auto next = std::find_if(ranges.begin(), ranges.end(), [t](const ClipRange& range) {
            return range.start > t;
        });
        if (next != ranges.end()) {
            // Over the gap without stopping.
            playhead_ = next->start;
            seekPlayer(next->start);
        } else {
            player_->pause();
            isPlaying_ = false;
            seek(ranges.back().end);
            return;
        }
    }
    announce();
}

void TrimSession::togglePlay()
{
    auto* clip = selected();
    if (!clip || !player_->hasSource())
        return;
    if (isPlaying_) {
        player_->pause();
        isPlaying_ = false;
        announce();
        return;
    }
    const auto& ranges = clip->segments();
    // The last 0.05 s of a range are not worth playing: on to the next one.
    const bool inside = std::any_of(ranges.begin(), ranges.end(), [this](const ClipRange& range) {
        return range.start - leadIn <= playhead_ && playhead_ < range.end - TrimClip::minimumLength;
    });
    if (!inside) {
        auto next = std::find_if(ranges.begin(), ranges.end(), [this](const ClipRange& range) {
            return range.start > playhead_;
        });
        seek(next != ranges.end() ? next->start : ranges.front().start);
    }
    player_->play();
    isPlaying_ = true;
    announce();
}

void TrimSession::splitAtPlayhead() { editAtPlayhead(&TrimClip::split); }

void TrimSession::addSegmentAtPlayhead() { editAtPlayhead(&TrimClip::addSegment); }

void TrimSession::editAtPlayhead(bool (TrimClip::*operation)(double))
{
    auto* clip = selected();
    if (!clip)
        return;
    // Several ranges are what the user is after, even when this one is refused.
    setAdvanced(true);
    if ((clip->*operation)(playhead_))
        seek(clip->current().start);
    else if (beep())
        beep()();
}

void TrimSession::move(int delta)
{
    auto* clip = selected();
    if (!clip)
        return;
    const auto index = int(std::find(clips_.begin(), clips_.end(), clip) - clips_.begin());
    setSelectedID(clips_[size_t(std::clamp(index + delta, 0, int(clips_.size()) - 1))]->id);
}

void TrimSession::applyToAll()
{
    for (auto* clip : clips_) {
        const double d = clip->duration();
        if (!(d > 0))
            continue;
        auto ranges = clip->segments();
        if (ranges.size() == 1) {
            const double s = std::min(headCut, std::max(d - 0.1, 0.0));
            clip->setSegments({ClipRange{QUuid::createUuid(), s, std::max(d - tailCut, s + 0.1)}}, 0);
        } else {
            ranges.front().start = std::min(headCut, ranges.front().end - TrimClip::minimumLength);
            ranges.back().end = std::max(d - tailCut, ranges.back().start + TrimClip::minimumLength);
            clip->setSegments(std::move(ranges), clip->active());
        }
    }
    if (auto* clip = selected())
        seek(clip->current().start);
    announce();
}

void TrimSession::resetAll()
{
    for (auto* clip : clips_)
        clip->setSegments({ClipRange{QUuid::createUuid(), 0, clip->duration()}}, 0);
    advanced_ = false;
    if (selected())
        seek(0);
    announce();
}

void TrimSession::stop()
{
    player_->pause();
    ticker_.stop();
    player_->setSource({});
}

void TrimSession::exportClips()
{
    struct Item {
        std::filesystem::path url;
        std::vector<TrimMedia::Range> ranges;
    };
    std::vector<Item> items;
    for (const auto* clip : clips_) {
        if (!(clip->duration() > 0))
            continue;
        Item item{clip->url, {}};
        for (const auto& range : clip->segments())
            item.ranges.emplace_back(range.start, range.end);
        items.push_back(std::move(item));
    }
    if (items.empty())
        return;
    const auto ext = outputExt;
    const bool fast = fastCopy;
    const auto kind = kind_;
    // Made with an exclusive mkdir: two exports at once never share a folder by accident.
    std::optional<std::filesystem::path> folder;
    if (items.size() >= 2) {
        try {
            folder = OutputPaths::makeCommonFolder(items.front().url, "Aparados", "");
        } catch (const std::exception&) {
            folder.reset();
        }
    }
    // Every export cancelled or failed ("Cancelar tudo", a quit midway): the folder goes with the last.
    const auto folderKeeper = folder ? FileSafety::removeIfEmptyAtLast(*folder) : nullptr;
    auto& store = JobStore::shared();
    for (auto& item : items) {
        const auto id = store.add(item.url.filename().string(), "Aparar");
        Request request;
        request.sources = {item.url};
        request.kind = kind;
        request.folder = folder;
        request.trim = Request::Trim{std::move(item.ranges), ext, fast, folder.has_value()};
        // A job of the front's road like a command line's trim, inside the job's bounds, taking
        // its turn at the gate of the jobs this process carries out.
        ConversionRunner::launch(
            store, Limiter::tools(), id, Task::newJob(folder), [id, request = std::move(request), folderKeeper] {
                return Requests::performHere(request, [id](double value) {
                    MainThread::post([id, value] {
                        JobStore::shared().setProgress(id, value);
                    });
                });
            });
    }
}
