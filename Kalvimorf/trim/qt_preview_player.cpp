#include "trim/qt_preview_player.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <cmath>
#include <vector>

namespace {

class QtPreviewPlayer : public PreviewPlayer {
public:
    QtPreviewPlayer()
    {
        player_.setVideoSink(&sink_);
        // Without an audio device an attached output only gets in the way of playing.
        if (!QMediaDevices::audioOutputs().isEmpty()) {
            audio_ = std::make_unique<QAudioOutput>();
            player_.setAudioOutput(audio_.get());
        }
        QObject::connect(&sink_, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
            frame_ = frame.toImage();
            completeSeeks();
            Q_EMIT frameChanged();
        });
        QObject::connect(&player_, &QMediaPlayer::positionChanged, this, [this] {
            completeSeeks();
        });
    }

    ~QtPreviewPlayer() override
    {
        player_.stop();
        player_.setVideoSink(nullptr);
    }

    void setSource(const std::filesystem::path& file) override
    {
        frame_ = {};
        player_.setSource(file.empty() ? QUrl() : QUrl::fromLocalFile(QString::fromStdString(file.string())));
        // Paused rather than stopped, so that the first picture shows before anything plays.
        if (!file.empty())
            player_.pause();
        Q_EMIT frameChanged();
    }

    bool hasSource() const override { return !player_.source().isEmpty(); }
    void play() override { player_.play(); }
    void pause() override { player_.pause(); }

    // Qt says nothing when a seek is done: the first new position or picture after it counts,
    // and 250 ms at the latest, so that the session's tick is never held for good.
    void seek(double seconds, std::function<void()> done) override
    {
        pending_.push_back(std::move(done));
        player_.setPosition(qint64(std::llround(seconds * 1000)));
        QTimer::singleShot(250, this, [this] {
            completeSeeks();
        });
    }

    double position() const override { return double(player_.position()) / 1000.0; }
    QImage frame() const override { return frame_; }

private:
    void completeSeeks()
    {
        auto done = std::move(pending_);
        pending_.clear();
        for (auto& callback : done)
            if (callback)
                callback();
    }

    QMediaPlayer player_;
    QVideoSink sink_;
    std::unique_ptr<QAudioOutput> audio_;
    QImage frame_;
    std::vector<std::function<void()>> pending_;
};

}

std::unique_ptr<PreviewPlayer> QtPreviewPlayers::make() { return std::make_unique<QtPreviewPlayer>(); }

void QtPreviewPlayers::checkPlayable(
    const std::filesystem::path& file, QObject* context, std::function<void(bool)> answer)
{
    // A throw-away player: the file plays when it loads within 5 s.
    auto* player = new QMediaPlayer;
    QPointer<QObject> guard(context);
    auto settle = [player, guard, answer = std::move(answer), answered = false](bool playable) mutable {
        if (answered)
            return;
        answered = true;
        player->disconnect();
        player->deleteLater();
        if (guard)
            answer(playable);
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
        (*shared)(false);
    });
    player->setSource(QUrl::fromLocalFile(QString::fromStdString(file.string())));
}
