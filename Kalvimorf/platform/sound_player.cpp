#include "platform/sound_player.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "core/base/helper_module.h"

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

// The module's two entry points, resolved once; null when the module is missing.
struct Module {
    QObject* (*create)(const char* path) = nullptr;
    void (*restart)(QObject* player, float volume) = nullptr;
};

const Module& module()
{
    static const Module loaded = [] {
        Module result;
        result.create = HelperModule::entry<QObject*(const char*)>("brivlon-sound.so", "brivlonSoundCreate");
        result.restart = HelperModule::entry<void(QObject*, float)>("brivlon-sound.so", "brivlonSoundRestart");
        if (!result.create || !result.restart)
            result = {};
        return result;
    }();
    return loaded;
}

}

SoundPlayer::~SoundPlayer()
{
    for (auto& [kind, effect] : players_)
        delete effect.data();
}

QObject* SoundPlayer::player(Chime::Kind kind)
{
    if (tried_[kind])
        return players_[kind];
    tried_[kind] = true;
    const QString path = soundFile(kind);
    if (!path.isEmpty() && module().create)
        players_[kind] = module().create(path.toUtf8().constData());
    return players_[kind];
}

void SoundPlayer::restart(Chime::Kind kind, double volume)
{
    if (auto* effect = player(kind))
        module().restart(effect, float(volume));
}
