#include "platform/sound_player.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

#include <unistd.h>

namespace {

// The player reads from a URL, so each sound is put in the cache once; a file already there with
// the right bytes is kept.
QString soundFile(Chime::Kind kind)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/Brivlon/sons";
    if (!QDir().mkpath(folder))
        return {};
    const QString path = folder + "/" + QString::fromStdString(Chime::rawValue(kind)) + ".wav";
    const auto data = Chime::wavData(kind);
    const QByteArray bytes(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
        return path;
    existing.close();
    // Written beside and moved into place, so a player of another running copy never reads half.
    const QString temporary = path + "." + QString::number(::getpid());
    QFile out(temporary);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush()) {
        out.remove();
        return {};
    }
    out.close();
    QFile::remove(path);
    if (!QFile::rename(temporary, path)) {
        QFile::remove(temporary);
        return {};
    }
    return path;
}

}

SoundPlayer::~SoundPlayer()
{
    for (auto& [kind, effect] : players_)
        delete effect.data();
}

QSoundEffect* SoundPlayer::player(Chime::Kind kind)
{
    if (tried_[kind])
        return players_[kind];
    tried_[kind] = true;
    const QString path = soundFile(kind);
    if (!path.isEmpty()) {
        auto* effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(QUrl::fromLocalFile(path));
        players_[kind] = effect;
    }
    return players_[kind];
}

void SoundPlayer::restart(Chime::Kind kind, double volume)
{
    auto* effect = player(kind);
    if (!effect)
        return;
    effect->stop();
    effect->setVolume(float(volume));
    effect->play();
}
