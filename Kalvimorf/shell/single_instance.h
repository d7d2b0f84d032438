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

    // Private to the user and the session.
    static QString serverName();
    // True when a first instance listens (it was handed the message); no files means "show
    // yourself".
    static bool forward(const Files& files, int timeoutMs = 3000);

    // Becomes the first instance; `opened` gets each later start's files (empty: reopen).
    // False when the name could not be taken.
    bool listen(std::function<void(const Files&)> opened);

    // The wire format, one request: "reopen" or "open" on the first line, then one path a line,
    // then an empty line.
    static QByteArray encode(const Files& files);
    // Nothing until the request is complete.
    static std::optional<Files> decode(const QByteArray& bytes);

private:
    QLocalServer* server_ = nullptr;
};
