#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <gmpxx.h>

#include <optional>
#include <stdexcept>
#include <vector>

class QNetworkAccessManager;

// Looks for a newer release in the JSON manifest on the product's site: 8 s after start, then
// daily, and when the user asks. Main thread only; the fetch waits in Qt's network code without
// blocking the thread.
class Updates : public QObject {
    Q_OBJECT
public:
    // An exact decimal: version values must compare digit for digit (1.2.3 equals 1.23).
    using Decimal = mpq_class;

    struct Release {
        QString versao;
        std::optional<QString> data;
        std::optional<QString> notas;
        QString download;
        std::optional<QString> macosMinimo;
        bool operator==(const Release&) const = default;
    };

    // A manifest that does not decode; the whole fetch fails with it.
    struct ManifestError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    static Updates& shared();

    // The first check 8 s from now, then one a day.
    void start();
    // Starts one check unless one is under way; returns at once.
    void check(bool userInitiated);
    // Opens the offered release's download page with the desktop's browser; nothing without one.
    void openDownload();

    const std::optional<Release>& update() const { return update_; }
    const std::optional<QDateTime>& lastCheck() const { return lastCheck_; }
    bool checking() const { return checking_; }

    static QString currentVersion();
    static QString displayVersion();
    // `version` ("1.0" when empty), then a blank and `stage` when there is one.
    static QString displayVersion(const QString& version, const QString& stage);
    // BRIVLON_UPDATES_URL when it forms an address, else the manifest on the product's site.
    static QUrl manifestURL();
    static QString userAgent();
    // The comparable value of a version text: "1.2.3" is 1.23, "1.10" is 1.1.
    static Decimal number(const QString& version);
    // The releases of a manifest; throws ManifestError on anything but the documented shape.
    static std::vector<Release> decode(const QByteArray& json);
    // The newest release above `running` that this system may take; the first of equals wins.
    // `system` is the running system's version for "macosMinimo"; none binds without one.
    static std::optional<Release> select(
        const std::vector<Release>& releases, const Decimal& running, const std::optional<Decimal>& system);

    // How long a fetch may take; 20 s.
    static constexpr int timeoutMs = 20000;
    static constexpr int firstCheckMs = 8000;
    static constexpr int dailyMs = 86400 * 1000;

Q_SIGNALS:
    // Sent after `update`, `checking` or `lastCheck` changed.
    void changed();

private:
    Updates();
    // `offer`: the manifest's newest release for this program, or none when the check failed.
    void finish(bool userInitiated, const std::optional<std::optional<Release>>& offer);
    void reportManualCheck();
    void reportFailure();

    std::optional<Release> update_;
    std::optional<QDateTime> lastCheck_;
    bool checking_ = false;
    QTimer timer_;
    QNetworkAccessManager* network_ = nullptr;
};
