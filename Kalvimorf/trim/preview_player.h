#pragma once

#include "core/base/service.h"

#include <QImage>
#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>

// What the trim editor needs of a media player: one file at a time, play, pause, exact seeks that
// say when they are done, the position, and the picture as images. The session owns one; tests
// drive a fake.
class PreviewPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~PreviewPlayer() override = default;

    // An empty path takes the file away.
    virtual void setSource(const std::filesystem::path& file) = 0;
    virtual bool hasSource() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    // Calls `done` on the main thread once the player stands at `seconds`.
    virtual void seek(double seconds, std::function<void()> done) = 0;
    virtual double position() const = 0;
    // The latest picture; null before the first or for sound only.
    virtual QImage frame() const = 0;

Q_SIGNALS:
    void frameChanged();
};

// Makes the players and answers whether a file plays. Without one installed, Qt Multimedia's.
class PreviewPlayers : public Service<PreviewPlayers> {
public:
    virtual ~PreviewPlayers() = default;
    virtual std::unique_ptr<PreviewPlayer> make() = 0;
    // Calls `answer` on the main thread, unless `context` is gone by then.
    virtual void checkPlayable(const std::filesystem::path& file, QObject* context, std::function<void(bool)> answer)
        = 0;
    // The installed one, else the real one.
    static PreviewPlayers& current();
};
