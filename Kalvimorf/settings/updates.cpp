#include "settings/updates.h"

#include "core/base/build_info.h"
#include "core/base/task.h"
#include "core/state/alert.h"
#include "settings/desktop_uri.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>

namespace {

using Decimal = Updates::Decimal;

bool isInteger(const QString& text)
{
    static const QRegularExpression pattern("^[+-]?[0-9]+$");
    return pattern.match(text).hasMatch();
}

mpz_class integer(const QString& text)
{
    auto digits = text.toStdString();
    if (!digits.empty() && digits.front() == '+')
        digits.erase(0, 1);
    return mpz_class(digits, 10);
}

// Reads a decimal number from the start of `text` ("13.04", "-2", "1.2x"), the way a decimal
// scanner in a POSIX locale does: "." is the separator and trailing text is left unread.
std::optional<Decimal> readDecimal(const QString& text)
{
    static const QRegularExpression pattern("^\\s*([+-]?)([0-9]*)(?:\\.([0-9]*))?");
    const auto match = pattern.match(text);
    const auto whole = match.captured(2);
    const auto fraction = match.captured(3);
    if (whole.isEmpty() && fraction.isEmpty())
        return std::nullopt;
    Decimal value = whole.isEmpty() ? Decimal(0) : Decimal(integer(whole));
    if (!fraction.isEmpty()) {
        mpz_class scale;
        mpz_ui_pow_ui(scale.get_mpz_t(), 10, fraction.size());
        value += Decimal(integer(fraction), scale);
    }
    value.canonicalize();
    return match.captured(1) == "-" ? -value : value;
}

std::optional<QString> optionalString(const QJsonObject& object, const char* key)
{
    const auto value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        throw Updates::ManifestError(std::string("\"") + key + "\" não é texto");
    return value.toString();
}

QString requiredString(const QJsonObject& object, const char* key)
{
    if (!object.contains(key) || object.value(key).isNull())
        throw Updates::ManifestError(std::string("falta \"") + key + "\"");
    return *optionalString(object, key);
}

// Only a secure web address is offered: "Baixar" hands it to the desktop, which would open a
// script or a local file as readily as a page.
bool formsAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && url.scheme() == "https" && !url.host().isEmpty();
}

// Ten versions' notes fit in a few kilobytes; a manifest past this is no manifest, and reading it
// would only fill the memory.
constexpr qint64 manifestLimit = 1 << 20;

}

Updates& Updates::shared()
{
    static auto* instance = new Updates;
    return *instance;
}

Updates::Updates()
{
    timer_.setInterval(dailyMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        check(false);
    });
}

void Updates::start()
{
    QPointer<Updates> self(this);
    // Qt's coarse timers may fire 5 % early: 400 ms on the first check, over an hour on the day.
    QTimer::singleShot(firstCheckMs, Qt::PreciseTimer, this, [self] {
        if (self)
            self->check(false);
    });
    timer_.start();
}

QString Updates::currentVersion() { return displayVersion(BuildInfo::version, {}); }

QString Updates::displayVersion() { return displayVersion(BuildInfo::version, BuildInfo::stage); }

QString Updates::displayVersion(const QString& version, const QString& stage)
{
    const QString shown = version.isEmpty() ? QString("1.0") : version;
    return stage.isEmpty() ? shown : shown + " " + stage;
}

QUrl Updates::manifestURL()
{
    const auto given = qEnvironmentVariable("BRIVLON_UPDATES_URL");
    if (!given.isEmpty()) {
        QUrl url(given, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            return url;
    }
    return QUrl(QString("https://") + BuildInfo::siteHost + "/atualizacoes.json");
}

QString Updates::userAgent() { return "Brivlon/" + currentVersion() + " (Linux)"; }

Updates::Decimal Updates::number(const QString& version)
{
    const auto pieces = version.split('.', Qt::SkipEmptyParts);
    // Each piece divides the weight of the next by a hundred, and the exact sum of thousands of
    // them takes time in the square of their number (100,000 pieces: over a minute). No version
    // has more than a handful; a text of more pieces than this is none.
    constexpr qsizetype maxPieces = 16;
    if (pieces.isEmpty() || pieces.size() > maxPieces || !isInteger(pieces.front()))
        return 0;
    auto head = pieces.size() > 1 ? pieces[0] + "." + pieces[1] : pieces[0];
    auto value = readDecimal(head);
    if (!value)
        return 0;
    Decimal weight(1, 100);
    for (qsizetype i = 2; i < pieces.size(); ++i) {
        if (isInteger(pieces[i]))
            *value += Decimal(integer(pieces[i])) * weight;
        weight /= 100;
    }
    value->canonicalize();
    return *value;
}

std::vector<Updates::Release> Updates::decode(const QByteArray& json)
{
    QJsonParseError error;
    const auto document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw ManifestError(error.errorString().toStdString());
    if (!document.isObject())
        throw ManifestError("o manifesto não é um objeto");
    const auto root = document.object();
    if (!root.value("versoes").isArray())
        throw ManifestError("falta \"versoes\"");
    std::vector<Release> releases;
    for (const auto& entry : root.value("versoes").toArray()) {
        if (!entry.isObject())
            throw ManifestError("uma versão não é um objeto");
        const auto object = entry.toObject();
        releases.push_back({
            .versao = requiredString(object, "versao"),
            .data = optionalString(object, "data"),
            .notas = optionalString(object, "notas"),
            .download = requiredString(object, "download"),
            .macosMinimo = optionalString(object, "macosMinimo"),
        });
    }
    return releases;
}

std::optional<Updates::Release> Updates::select(
    const std::vector<Release>& releases, const Decimal& running, const std::optional<Decimal>& system)
{
    std::optional<Release> best;
    Decimal bestValue;
    for (const auto& release : releases) {
        const auto value = number(release.versao);
        if (!(running < value) || !formsAddress(release.download))
            continue;
        if (system && release.macosMinimo) {
            const auto minimum = readDecimal(*release.macosMinimo);
            if (minimum && *minimum > *system)
                continue;
        }
        if (!best || value > bestValue) {
            best = release;
            bestValue = value;
        }
    }
    return best;
}

void Updates::check(bool userInitiated)
{
    if (checking_)
        return;
    checking_ = true;
    Q_EMIT changed();
    if (!network_)
        network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(manifestURL());
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    auto* reply = network_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > manifestLimit || total > manifestLimit)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated] {
        reply->deleteLater();
        std::optional<QByteArray> body;
        // A file:// answer carries no status and is taken as it is.
        const auto status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const bool statusOk = !status.isValid() || (status.toInt() >= 200 && status.toInt() <= 299);
        if (reply->error() == QNetworkReply::NoError && statusOk && reply->bytesAvailable() <= manifestLimit)
            body = reply->readAll();
        // How long reading the manifest and comparing its versions takes is the manifest's to
        // decide: it happens off the interface thread, which only takes the outcome.
        Task::detach({}, [this, body = std::move(body), userInitiated] {
            std::optional<std::optional<Release>> offer;
            if (body) {
                try {
                    // A release's "macosMinimo" names a version of another system: nothing here
                    // compares with it.
                    offer = select(decode(*body), number(currentVersion()), std::nullopt);
                } catch (const ManifestError&) {
                }
            }
            MainThread::post([this, offer = std::move(offer), userInitiated] {
                finish(userInitiated, offer);
            });
        });
    });
}

void Updates::finish(bool userInitiated, const std::optional<std::optional<Release>>& offer)
{
    checking_ = false;
    lastCheck_ = QDateTime::currentDateTime();
    if (offer)
        update_ = *offer;
    Q_EMIT changed();
    if (!userInitiated)
        return;
    if (offer)
        reportManualCheck();
    else
        reportFailure();
}

void Updates::reportManualCheck()
{
    if (update_) {
        QString text;
        if (update_->notas)
            text = *update_->notas + "\n\n";
        text += "Você está na versão " + displayVersion() + ".";
        const int answer = Alert::run({
            .message = ("Brivlon " + update_->versao + " disponível").toStdString(),
            .informative = text.toStdString(),
            .buttons = {"Baixar no site", "Depois"},
        });
        if (answer == 0)
            openDownload();
        return;
    }
    Alert::run({
        .message = "Você já tem a versão mais recente",
        .informative = ("Brivlon " + displayVersion() + ".").toStdString(),
        .buttons = {},
    });
}

void Updates::reportFailure()
{
    Alert::run({
        .message = "Não foi possível procurar atualizações",
        .informative = std::string("Verifique a internet e tente de novo. Você também pode ver as versões em ")
            + BuildInfo::siteHost + ".",
        .buttons = {},
    });
}

void Updates::openDownload()
{
    if (update_ && formsAddress(update_->download))
        DesktopUri::open(update_->download);
}
