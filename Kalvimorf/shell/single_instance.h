#pragma once

#include <QObject>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QLocalServer;

// One tray program per user: the first normal start listens on a local socket; a later start
// hands over its files (or asks for the window again) and leaves. The launcher, "Open with" and a
// second start from a terminal all come this way.
class SingleInstance : public QObject {
public:
    using Files = std::vector<std::filesystem::path>;

    // The user's own folder for the socket and its lock: in the session's runtime folder, else in
    // the temporary one, else in the user's cache; each only when it is a real folder that the
    // user owns and nobody else may enter. Empty when none is: then every start stands alone.
    static QString folder();
    // The socket's full path in folder(); empty without one.
    static QString serverName();
    // True when a first instance listens (it was handed the message); no files means "show
    // yourself".
    static bool forward(const Files& files, int timeoutMs = 3000);

    // Becomes the first instance; `opened` gets each later start's files (empty: reopen).
    // False when the name could not be taken, also when another instance answers on it.
    bool listen(std::function<void(const Files&)> opened);

    // Held by a start from before it tries forward() until listen() has the name, so that of two
    // starts at once one listens and the other hands over to it. Waits for another start's turn
    // a few seconds at most: one that hangs there must not keep every later start out.
    class StartLock {
    public:
        explicit StartLock(int waitMs = 5000);
        ~StartLock();
        StartLock(const StartLock&) = delete;
        StartLock& operator=(const StartLock&) = delete;
        bool held() const { return fd_ >= 0; }

    private:
        int fd_ = -1;
    };

    // The wire format, one request: "reopen" or "open", then each path, each of these followed by
    // a NUL (which no path holds, where a line feed may be), then one more NUL.
    static QByteArray encode(const Files& files);
    // Nothing until the request is complete, or when it is not one.
    static std::optional<Files> decode(const QByteArray& bytes);
    // What one connection may send before it is dropped: thousands of long paths, not a flood.
    static constexpr qsizetype maxRequest = 16 << 20;

private:
    QLocalServer* server_ = nullptr;
};
