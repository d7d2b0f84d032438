#include "settings/feedback.h"

#include "core/base/app_paths.h"
#include "core/base/build_info.h"
#include "core/base/error_log.h"
#include "core/base/file_safety.h"
#include "core/base/settings.h"
#include "settings/desktop_uri.h"
#include "settings/feedback_window.h"
#include "settings/updates.h"

#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSysInfo>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QUrl>

namespace {

QString supportAddress() { return BuildInfo::supportEmail; }

// The first "model name" of /proc/cpuinfo; empty where there is none (some ARM kernels).
// A file of /proc has no size, so QFile::atEnd() is true before the first read: it is read
// to its end instead.
QString processorName()
{
    QFile file("/proc/cpuinfo");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto lines = QString::fromUtf8(file.readAll()).split('\n');
    for (const auto& line : lines)
        if (line.startsWith("model name"))
            return line.section(':', 1).trimmed();
    return {};
}

QString themeWord(AppTheme theme)
{
    switch (theme) {
    case AppTheme::macos: return "macOS";
    case AppTheme::classic: return "Clássico";
    case AppTheme::stage: return "Palco";
    }
    return "macOS";
}

// The first `count` grapheme clusters: a letter with its accents or an emoji stays whole.
QString firstCharacters(const QString& text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    while (seen < count && finder.toNextBoundary() != -1)
        ++seen;
    return seen < count ? text : text.left(finder.position());
}

}

Feedback::Feedback() : endpoint_(BuildInfo::reportEndpoint) { }

Feedback& Feedback::shared()
{
    static auto* instance = new Feedback;
    return *instance;
}

QString Feedback::title(Kind kind)
{
    switch (kind) {
    case Kind::problem: return "Problema";
    case Kind::suggestion: return "Sugestão";
    }
    return "Problema";
}

void Feedback::setKind(Kind kind)
{
    if (kind_ == kind)
        return;
    kind_ = kind;
    Q_EMIT changed();
}

void Feedback::setText(const QString& text)
{
    if (text_ == text)
        return;
    text_ = text;
    Q_EMIT changed();
}

void Feedback::setEmail(const QString& email)
{
    if (email_ == email)
        return;
    email_ = email;
    Q_EMIT changed();
}

void Feedback::setIncludeDiagnostics(bool on)
{
    if (includeDiagnostics_ == on)
        return;
    includeDiagnostics_ = on;
    Q_EMIT changed();
}

void Feedback::setStatus(const QString& status)
{
    status_ = status;
    Q_EMIT changed();
}

void Feedback::open()
{
    setStatus({});
    if (!window_)
        window_ = new FeedbackWindow(*this);
    window_->present();
}

void Feedback::send()
{
    const auto body = text_.trimmed();
    if (body.isEmpty()) {
        setStatus("Descreva o que aconteceu antes de enviar.");
        return;
    }
    const auto diag = includeDiagnostics_ ? diagnostics() : QString();
    saveCopy(body, diag);
    if (endpoint_.isEmpty())
        openMail(body, diag);
    else
        post(body, diag);
}

void Feedback::post(const QString& body, const QString& diag)
{
    setStatus("Enviando…");
    auto* network = findChild<QNetworkAccessManager*>();
    if (!network)
        network = new QNetworkAccessManager(this);
    QNetworkRequest request{QUrl(endpoint_)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setTransferTimeout(postTimeoutMs);
    const QJsonObject report{
        {"tipo", title(kind_)},
        {"texto", body},
        {"email", email_},
        {"diagnostico", diag},
        {"versao", Updates::currentVersion()},
    };
    auto* reply = network->post(request, QJsonDocument(report).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, diag] {
        reply->deleteLater();
        const auto status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && status.toInt() >= 200 && status.toInt() <= 299)
            finished("Enviado! Obrigado — cada relato ajuda a melhorar o Brivlon.");
        else
            openMail(body, diag);
    });
}

std::filesystem::path Feedback::reportsFolder() { return AppPaths::dataDir() / "Relatos"; }

// Two reports in the same second both stay: the second takes the name with " 2".
void Feedback::saveCopy(const QString& body, const QString& diag)
{
    const auto content = title(kind_) + "\n\n" + body + "\n\nContato: " + email_ + "\n\n" + diag + "\n";
    const auto bytes = content.toUtf8();
    try {
        std::filesystem::create_directories(reportsFolder());
        const auto stem = QDateTime::currentDateTime().toString("yyyy-MM-dd HH.mm.ss").toStdString();
        FileSafety::writeNew(FileSafety::numberedNames(reportsFolder(), stem, "txt"),
            std::string_view(bytes.constData(), size_t(bytes.size())));
    } catch (const std::exception&) {
        // A copy that cannot be kept does not stop the report.
    }
}

QString Feedback::subject(Kind kind, const QString& body)
{
    return "[Brivlon " + Updates::displayVersion() + "] " + title(kind) + ": " + firstCharacters(body, 60);
}

QString Feedback::mailBody(const QString& body, const QString& email, const QString& diag)
{
    auto text = body;
    if (!email.isEmpty())
        text += "\n\nContato: " + email;
    if (!diag.isEmpty())
        text += "\n\n— Diagnóstico —\n" + diag;
    return text;
}

QString Feedback::mailto(const QString& subject, const QString& body)
{
    return "mailto:" + supportAddress() + "?subject=" + QString::fromLatin1(QUrl::toPercentEncoding(subject))
        + "&body=" + QString::fromLatin1(QUrl::toPercentEncoding(body));
}

void Feedback::openMail(const QString& body, const QString& diag)
{
    const auto mailSubject = subject(kind_, body);
    const auto text = mailBody(body, email_, diag);
    if (DesktopUri::open(mailto(mailSubject, text))) {
        finished("Abrimos um e-mail pronto para " + supportAddress() + " — é só tocar em Enviar.");
        return;
    }
    if (auto* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText("Para: " + supportAddress() + "\nAssunto: " + mailSubject + "\n\n" + text);
    }
    setStatus(
        "Não há app de e-mail configurado. O relato foi copiado — cole num e-mail para " + supportAddress() + ".");
}

void Feedback::finished(const QString& message)
{
    status_ = message;
    text_.clear();
    Q_EMIT changed();
    QPointer<Feedback> self(this);
    QTimer::singleShot(closeDelayMs, Qt::PreciseTimer, this, [self] {
        if (self && self->window_)
            self->window_->close();
    });
}

QString Feedback::componentWord(const OfficeComponent::State& state)
{
    using Phase = OfficeComponent::State::Phase;
    if (state.bySystemSuite())
        return state.systemSuite + " do sistema";
    switch (state.phase) {
    case Phase::downloading: return "baixando " + QString::number(int(state.fraction * 100)) + "%";
    case Phase::failed: return "falhou: " + state.message;
    case Phase::notInstalled: return "não instalado";
    case Phase::waitingNetwork: return "aguardando internet";
    case Phase::installing: return "instalando";
    case Phase::ready: return "instalado";
    }
    return "não instalado";
}

QString Feedback::diagnostics()
{
    const QString build = *BuildInfo::build ? QString(BuildInfo::build) : QString("?");
    const QStringList lines{
        "Brivlon " + Updates::displayVersion() + " (build " + build + ")",
        QSysInfo::prettyProductName() + " · " + processorName(),
        "Motor de documentos: " + componentWord(OfficeComponent::current()),
        "Tema: " + themeWord(Theme::current())
            + " · Teclas: " + (Prefs::separateKeys() ? "uma por leque" : "uma tecla só"),
        "Últimos erros:",
        QString::fromStdString(ErrorLog::recent(30)),
    };
    return lines.join('\n');
}
