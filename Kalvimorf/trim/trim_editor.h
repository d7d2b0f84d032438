#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <vector>

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
