#pragma once

#include "settings/feedback_window.h"
#include "settings/office_component.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <filesystem>

class FeedbackWindow;

// The problem report: a form for a problem or an idea, mailed to support with optional
// diagnostics, a copy of every report kept under the data folder. Main thread only.
class Feedback : public QObject {
    Q_OBJECT
public:
    enum class Kind { problem, suggestion };

    static Feedback& shared();
    static QString title(Kind kind);

    Kind kind() const { return kind_; }
    const QString& text() const { return text_; }
    const QString& email() const { return email_; }
    bool includeDiagnostics() const { return includeDiagnostics_; }
    const QString& status() const { return status_; }
    void setKind(Kind kind);
    void setText(const QString& text);
    void setEmail(const QString& email);
    void setIncludeDiagnostics(bool on);

    // Shows the form, made on first use and kept with whatever it holds.
    void open();
    void send();
    FeedbackWindow* window() const { return window_; }

    // Six lines: version, system, office component, look and keys, the last errors.
    static QString diagnostics();
    static QString componentWord(const OfficeComponent::State& state);
    // "[Brivlon <version>] <kind>: " and the first 60 characters of `body` as the user sees them.
    static QString subject(Kind kind, const QString& body);
    static QString mailBody(const QString& body, const QString& email, const QString& diag);
    // Everything but RFC 3986's unreserved characters percent-encoded, so that "&", "+", "#"
    // and line breaks reach the mail program as they were typed.
    static QString mailto(const QString& subject, const QString& body);
    // $XDG_DATA_HOME/Brivlon/Relatos
    static std::filesystem::path reportsFolder();

    static constexpr int closeDelayMs = 2500;
    static constexpr int postTimeoutMs = 60000;

    // The report collector: the build's setting, empty in this build (reports are mailed).
    void setEndpoint(const QString& url) { endpoint_ = url; }

Q_SIGNALS:
    void changed();

private:
    Feedback();
    void saveCopy(const QString& body, const QString& diag);
    void openMail(const QString& body, const QString& diag);
    void post(const QString& body, const QString& diag);
    void finished(const QString& message);
    void setStatus(const QString& status);

    Kind kind_ = Kind::problem;
    QString text_;
    QString email_;
    bool includeDiagnostics_ = true;
    QString status_;
    QString endpoint_;
    QPointer<FeedbackWindow> window_;
};
