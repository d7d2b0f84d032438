#pragma once

#include "core/base/task.h"
#include "documents/downloader.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Installs the office component in the background: downloads the suite's archive (resuming
// within the process), checks it against the pinned digest, unpacks it, copies the program tree
// out, trims what conversion never needs and puts it in place with its version marker. Waits for
// the network when there is none, tries again ten minutes after a failure and three seconds after
// the network returns. Its state and its one job are published on the main thread; the job
// store side connects to the job signals.
class ComponentInstaller : public QObject {
    Q_OBJECT
public:
    struct State {
        enum class Kind { downloading, failed, notInstalled, waitingNetwork, installing, ready };
        Kind kind = Kind::notInstalled;
        double fraction = 0;  // downloading
        std::string message;  // failed
        bool operator==(const State&) const = default;
    };

    // What is installed and from where: one block, which tests replace.
    struct Payload {
        std::string version;
        std::string fileName;
        std::vector<QUrl> sources;
        std::string sha256;
        // A bound on the package's size, with room for the mirrors' differences.
        qint64 maxBytes = 0;
        // Relative to the unpacked program tree.
        std::string program;
        std::vector<std::string> trimmable;
    };
    static Payload officePayload();

    struct Options {
        Payload payload = officePayload();
        std::chrono::milliseconds retryDelay = std::chrono::seconds(600);
        std::chrono::milliseconds networkReturnDelay = std::chrono::seconds(3);
        Downloader::Options download;
        // Whether the distribution's LibreOffice is there: then no automatic install downloads.
        std::function<bool()> systemSuite;
        // Follow the network's state (off in tests, which report it themselves).
        bool watchNetwork = true;
    };

    static ComponentInstaller& shared();
    explicit ComponentInstaller(Options options);
    ~ComponentInstaller() override;

    const State& office() const { return office_; }
    // What the last network report said, never online with BRIVLON_FORCE_OFFLINE.
    bool online() const;
    bool running() const { return running_; }
    bool retryPending() const { return retry_.isActive(); }

    // Starts a run unless one is under way: online, a download; offline, a wait for the network.
    void install();
    // Ready when the component answers; with the distribution's suite there, nothing; else install().
    void installIfNeeded();
    // What the network monitor reports: usable or not.
    void networkChanged(bool usable);
    // The job's cancel action.
    void cancelRun();

    // The texts of the failures.
    static std::string describeDownload(const std::string& message);

Q_SIGNALS:
    void stateChanged(const ComponentInstaller::State& state);
    // The run's job: created at its first progress report, then its progress, then its end.
    void jobStarted();
    void jobProgress(double value);
    void jobFinished(int kind, const QString& message);  // kind: 0 info, 1 failed, 2 cancelled

public:
    enum JobEnd { jobInfo = 0, jobFailed = 1, jobCancelled = 2 };

private:
    void setOffice(State state);
    void scheduleRetry();
    void reportProgress(double fraction);
    void runEnded(std::exception_ptr error);
    void installOffice(const std::function<void(double)>& progress);

    Options options_;
    State office_;
    bool online_ = true;
    bool running_ = false;
    bool jobShown_ = false;
    std::shared_ptr<Task::CancelToken> cancel_;
    QTimer retry_;
};
