#pragma once

#include "trim/preview_player.h"

#include <QApplication>
#include <QPointer>

#include <memory>
#include <vector>

// A player that only records: the test moves its position and says when seeks are done.
struct FakePlayer final : PreviewPlayer {
    std::filesystem::path source;
    bool playing = false;
    double at = 0;
    std::vector<std::function<void()>> seeks;
    // Shared by every player of one FakePlayers, so that a player's last steps outlive it.
    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();

    void setSource(const std::filesystem::path& file) override
    {
        source = file;
        log->push_back("source " + file.filename().string());
    }
    bool hasSource() const override { return !source.empty(); }
    void play() override { playing = true; }
    void pause() override { playing = false; }
    void seek(double seconds, std::function<void()> done) override
    {
        at = seconds;
        seeks.push_back(std::move(done));
    }
    double position() const override { return at; }
    QImage frame() const override { return {}; }

    void completeSeeks()
    {
        auto done = std::move(seeks);
        seeks.clear();
        for (auto& callback : done)
            callback();
    }
};

struct FakePlayers final : PreviewPlayers {
    bool playable = true;
    FakePlayer* last = nullptr;
    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();

    std::unique_ptr<PreviewPlayer> make() override
    {
        auto player = std::make_unique<FakePlayer>();
        player->log = log;
        last = player.get();
        return player;
    }
    void checkPlayable(const std::filesystem::path&, QObject* context, std::function<void(bool)> answer) override
    {
        QPointer<QObject> guard(context);
        QMetaObject::invokeMethod(
            qApp,
            [guard, answer, playable = playable] {
                if (guard)
                    answer(playable);
            },
            Qt::QueuedConnection);
    }
};
