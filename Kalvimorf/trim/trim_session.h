#pragma once

#include "core/base/catalog.h"
#include "trim/preview_player.h"
#include "trim/trim_clip.h"

#include <QImage>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The model of one trim editor window: its clips, the selected one in a player that plays only
// the kept ranges, still frames for video the player cannot show, the output choices and the
// export, one job per clip. Main thread only; exports run on threads of their own and outlive it.
class TrimSession : public QObject {
    Q_OBJECT
public:
    TrimSession(const std::vector<std::filesystem::path>& urls, MediaKind kind, QObject* parent = nullptr);
    ~TrimSession() override;

    const std::vector<TrimClip*>& clips() const { return clips_; }
    MediaKind kind() const { return kind_; }
    PreviewPlayer& player() { return *player_; }
    const PreviewPlayer& player() const { return *player_; }

    std::optional<QUuid> selectedID() const { return selectedID_; }
    // A different value pauses and puts the clip in the player (or in still frames).
    void setSelectedID(std::optional<QUuid> id);
    TrimClip* selected() const;

    double playhead() const { return playhead_; }
    bool isPlaying() const { return isPlaying_; }
    const QImage& poster() const { return poster_; }
    int pendingSeeks() const { return pendingSeeks_; }

    // What the editor's controls write directly.
    double headCut = 0;
    double tailCut = 0;
    std::string outputExt;
    bool fastCopy = false;
    bool advanced() const { return advanced_; }
    void setAdvanced(bool on);

    // (extension, label) pairs of the "Salvar como" menu; the empty extension keeps each file's.
    std::vector<std::pair<std::string, std::string>> outputChoices() const;

    void seek(double t);
    void togglePlay();
    void splitAtPlayhead();
    void addSegmentAtPlayhead();
    void move(int delta);
    void applyToAll();
    void resetAll();
    // Pauses, stops the tick and empties the player; exports and loads go on.
    void stop();
    // One job "Aparar" per loaded clip, all at once; two or more go into a new "Aparados" folder.
    void exportClips();

    // The player's position, every 1/30 s while the session runs; keeps playback inside the
    // kept ranges.
    void tick(double t);
    // Tells the observers that something they show changed.
    void announce();

    // The alert sound of a refused split or new range; tests count it.
    static std::function<void()>& beep();

Q_SIGNALS:
    void changed();

private:
    void didSelect();
    void seekPlayer(double t);
    void showStill(double t);
    void editAtPlayhead(bool (TrimClip::*operation)(double));

    std::vector<TrimClip*> clips_;
    MediaKind kind_;
    std::unique_ptr<PreviewPlayer> player_;
    QTimer ticker_;
    std::optional<QUuid> selectedID_;
    double playhead_ = 0;
    bool isPlaying_ = false;
    QImage poster_;
    bool advanced_ = false;
    int pendingSeeks_ = 0;
    // Still frames: only the latest asked for after a 0.12 s pause is made and shown.
    QTimer posterDelay_;
    double posterAt_ = 0;
    int posterGeneration_ = 0;
};
