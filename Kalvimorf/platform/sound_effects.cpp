// The one piece of the program that uses Qt Multimedia, built as a module of its own
// (brivlon-sound.so beside the executable) that the sound player loads on its first sound: the
// command line, the render modes and the maintenance modes never load the media libraries.

#include <QCoreApplication>
#include <QSoundEffect>
#include <QUrl>

extern "C" {

// A player of the WAV file at `path`, owned by the application object.
__attribute__((visibility("default"))) QObject* brivlonSoundCreate(const char* path)
{
    auto* effect = new QSoundEffect(QCoreApplication::instance());
    effect->setSource(QUrl::fromLocalFile(QString::fromUtf8(path)));
    return effect;
}

__attribute__((visibility("default"))) void brivlonSoundRestart(QObject* player, float volume)
{
    auto* effect = static_cast<QSoundEffect*>(player);
    effect->stop();
    effect->setVolume(volume);
    effect->play();
}
}
