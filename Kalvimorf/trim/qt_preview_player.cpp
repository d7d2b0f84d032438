#include "trim/qt_preview_player.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <cmath>
#include <deque>
#include <vector>

namespace {

class QtPreviewPlayer : public PreviewPlayer {
public:
    ~QtPreviewPlayer() override
    {
        if (player_) {
            player_->stop();
            player_->setVideoSink(nullptr);
        }
    }

    // The media pipeline is made and given the file on the next turn of the event loop, so that
    // the editor's window shows first; until then the player answers from what it was told.
    void setSource(const std::filesystem::path& file) override
    {
        source_ = file;
        frame_ = {};
        position_ = 0;
        startClock(0);
        schedule();
        Q_EMIT frameChanged();
    }

    bool hasSource() const override { return !source_.empty(); }

    void play() override
    {
        if (!playing_)
            startClock(position_);
        playing_ = true;
        if (ready())
            player_->play();
    }

    void pause() override
    {
        if (playing_ && clocked())
            position_ = clockPosition();
        playing_ = false;
        if (ready())
            player_->pause();
    }

    // Qt says nothing when a seek is done: the first new position or picture after it counts,
    // and 250 ms at the latest, so that the session's tick is never held for good.
    void seek(double seconds, std::function<void()> done) override
    {
        pending_.push_back(std::move(done));
        position_ = qint64(std::llround(seconds * 1000));
        startClock(position_);
        if (ready())
            player_->setPosition(position_);
        // Nothing on the clock waits for a pipeline.
        QTimer::singleShot(clocked() ? 0 : 250, this, [this] {
            completeSeeks();
        });
    }

    double position() const override
    {
        if (clocked())
            return double(clockPosition()) / 1000.0;
        return double(ready() ? player_->position() : position_) / 1000.0;
    }
    QImage frame() const override { return frame_; }

private:
    bool ready() const { return player_ && applied_ == source_; }

    // With no sound device and no picture the pipeline has no sink to pace it and its position
    // stands still: the position then runs on the steady clock from the last seek or play, up to
    // the end of the file, so that the playhead moves as it would with a device.
    bool clocked() const { return ready() && !audio_ && loaded() && !player_->hasVideo(); }

    // Whether it has a picture is known only from here on.
    bool loaded() const
    {
        switch (player_->mediaStatus()) {
        case QMediaPlayer::LoadedMedia:
        case QMediaPlayer::BufferingMedia:
        case QMediaPlayer::BufferedMedia:
        case QMediaPlayer::EndOfMedia: return true;
        case QMediaPlayer::NoMedia:
        case QMediaPlayer::LoadingMedia:
        case QMediaPlayer::StalledMedia:
        case QMediaPlayer::InvalidMedia: return false;
        }
        return false;
    }

    void startClock(qint64 from)
    {
        clockFrom_ = from;
        clockStarted_.start();
    }

    qint64 clockPosition() const
    {
        if (!playing_)
            return position_;
        const qint64 at = clockFrom_ + clockStarted_.elapsed();
        const qint64 end = player_->duration();
        return end > 0 ? std::min(at, end) : at;
    }

    void schedule()
    {
        if (scheduled_)
            return;
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            scheduled_ = false;
            apply();
        });
    }

    void apply()
    {
        if (!player_ && source_.empty()) {
            applied_ = source_;
            return;
        }
        if (!player_)
            make();
        applied_ = source_;
        player_->setSource(source_.empty() ? QUrl() : QUrl::fromLocalFile(QString::fromStdString(source_.string())));
        if (source_.empty())
            return;
        player_->setPosition(position_);
        // Paused rather than stopped, so that the first picture shows before anything plays.
        playing_ ? player_->play() : player_->pause();
    }

    void make()
    {
        player_ = std::make_unique<QMediaPlayer>();
        sink_ = std::make_unique<QVideoSink>();
        player_->setVideoSink(sink_.get());
        // Without an audio device an attached output only gets in the way of playing.
        if (!QMediaDevices::audioOutputs().isEmpty()) {
            audio_ = std::make_unique<QAudioOutput>();
            player_->setAudioOutput(audio_.get());
        }
        QObject::connect(sink_.get(), &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
            frame_ = frame.toImage();
            completeSeeks();
            Q_EMIT frameChanged();
        });
        QObject::connect(player_.get(), &QMediaPlayer::positionChanged, this, [this] {
            completeSeeks();
        });
        // GStreamer now and then fails to find the type of a file it reads well the next time,
        // when several pipelines open at once: one more try before the file counts as broken.
        QObject::connect(
            player_.get(), &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
                // Nothing played while it loaded: the clock starts from where the player was put.
                if (status == QMediaPlayer::LoadedMedia && clocked())
                    startClock(position_);
                if (status != QMediaPlayer::InvalidMedia || retried_ == applied_ || applied_.empty())
                    return;
                retried_ = applied_;
                applied_.clear();
                schedule();
            });
    }

    void completeSeeks()
    {
        auto done = std::move(pending_);
        pending_.clear();
        for (auto& callback : done)
            if (callback)
                callback();
    }

    std::filesystem::path source_;
    std::filesystem::path applied_;
    std::filesystem::path retried_;
    bool scheduled_ = false;
    bool playing_ = false;
    qint64 position_ = 0;
    qint64 clockFrom_ = 0;
    QElapsedTimer clockStarted_;
    std::unique_ptr<QAudioOutput> audio_;
    std::unique_ptr<QVideoSink> sink_;
    std::unique_ptr<QMediaPlayer> player_;
    QImage frame_;
    std::vector<std::function<void()>> pending_;
};

}

std::unique_ptr<PreviewPlayer> QtPreviewPlayers::make() { return std::make_unique<QtPreviewPlayer>(); }

namespace {

// One throw-away player at a time: twenty pipelines made at once would hold up the main thread
// just as the editor shows.
struct PlayableCheck {
    std::filesystem::path file;
    QPointer<QObject> context;
    std::function<void(bool)> answer;
};
std::deque<PlayableCheck> waiting;
bool checking = false;

void checkNext()
{
    while (!waiting.empty() && !waiting.front().context)
        waiting.pop_front();
    if (checking || waiting.empty())
        return;
    checking = true;
    auto check = std::move(waiting.front());
    waiting.pop_front();
    // The file plays when it loads within 5 s.
    const auto file = QString::fromStdString(check.file.string());
    auto* player = new QMediaPlayer;
    auto settle = [player, file, check = std::move(check), answered = false, retried = false](
                      bool playable, bool timedOut = false) mutable {
        // Once more on a failure, as the preview does; the 5 s are for both tries.
        if (!playable && !timedOut && !retried && !answered) {
            retried = true;
            player->setSource(QUrl());
            player->setSource(QUrl::fromLocalFile(file));
            return;
        }
        if (answered)
            return;
        answered = true;
        player->disconnect();
        player->deleteLater();
        if (check.context)
            check.answer(playable);
        checking = false;
        QTimer::singleShot(0, [] {
            checkNext();
        });
    };
    auto shared = std::make_shared<decltype(settle)>(std::move(settle));
    QObject::connect(player, &QMediaPlayer::mediaStatusChanged, player, [shared](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia
            || status == QMediaPlayer::BufferingMedia)
            (*shared)(true);
        else if (status == QMediaPlayer::InvalidMedia)
            (*shared)(false);
    });
    QObject::connect(player, &QMediaPlayer::errorOccurred, player, [shared] {
        (*shared)(false);
    });
    QTimer::singleShot(5000, player, [shared] {
        (*shared)(false, true);
    });
    player->setSource(QUrl::fromLocalFile(file));
}

}

void QtPreviewPlayers::checkPlayable(
    const std::filesystem::path& file, QObject* context, std::function<void(bool)> answer)
{
    waiting.push_back({file, context, std::move(answer)});
    checkNext();
}

// The module's one entry: the players of the whole run.
extern "C" __attribute__((visibility("default"))) PreviewPlayers* brivlonPreviewPlayers()
{
    static QtPreviewPlayers players;
    return &players;
}
