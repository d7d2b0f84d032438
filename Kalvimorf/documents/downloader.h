#pragma once

#include "core/base/progress.h"

#include <QUrl>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

// Fetches one address into one file for the component installer, resuming an interrupted
// transfer of the same address once (in this process only, with Range and If-Range), reporting
// progress in steps of at least half a percent and never 100 %, and telling a missing network
// from other failures. Blocks the calling thread, which runs its own event loop meanwhile.
namespace Downloader {
namespace fs = std::filesystem;

class Error : public std::runtime_error {
public:
    enum class Kind { network, server, file };
    Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) { }
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct Options {
    // Where the bytes of an unfinished transfer wait for the next attempt; outside every folder
    // the installer clears.
    fs::path partialFolder;
    // Longest wait for more data, and for the whole transfer.
    std::chrono::milliseconds stallLimit = std::chrono::seconds(60);
    std::chrono::milliseconds totalLimit = std::chrono::seconds(3600);
    // Bytes past which the transfer stops, announced or received; 0: no bound. The digest is
    // known only at the end, so this is what keeps a wrong server from filling the disk first.
    qint64 sizeLimit = 0;
};

// The complete file at `destination` (replacing what stood there), or an Error; a cancelled
// job's transfer stops with CancellationError and leaves the destination as it was.
void download(const QUrl& url, const fs::path& destination, const Progress& progress, const Options& options);
// True for the failures that mean the network is unavailable.
bool isNetworkError(const std::exception& error);

}
