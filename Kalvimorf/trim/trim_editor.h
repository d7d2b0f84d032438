#pragma once

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QWidget;
class TrimEditorView;
class TrimSession;

// The one trim editor window: opens on video or audio files, routes the editor's keys to its
// session, and tears both down when it closes, is cancelled, exports or is opened again.
// Main thread only.
class TrimEditor : public QObject {
    Q_OBJECT
public:
    static TrimEditor& shared();
    // Opens the editor on the files when they are all video or all audio; anything else is
    // ignored and leaves an open editor as it was. Returns whether it opened.
    static bool open(const std::vector<std::filesystem::path>& files);

    void close();
    QWidget* window() const { return window_; }
    TrimSession* session() const { return session_.get(); }
    TrimEditorView* view() const { return view_; }

    // Scripted playback: once the file is read, seeks to `t` (with `multi`, in the second of two
    // ranges 1–2 s and 3–5 s), plays once the player stands there and reports where the playhead
    // is 1.5 s after it started to move. Each step waits for the session, not for a time, so that
    // a slow start on a loaded machine shows as a late report rather than a wrong one.
    void debugPlayTest(double t, bool multi, std::function<void(const std::string&)> report);
    // Three demonstration ranges on the selected clip, the middle one active.
    void debugDemoSegments();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool openFiles(const std::vector<std::filesystem::path>& files);
    void tearDown(bool closeWindow);

    QPointer<QWidget> window_;
    TrimEditorView* view_ = nullptr;
    std::unique_ptr<TrimSession> session_;
    bool filtering_ = false;
};
