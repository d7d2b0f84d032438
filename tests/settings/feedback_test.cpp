#include "core/base/build_info.h"
#include "core/base/error_log.h"
#include "core/base/settings.h"
#include "documents/office_engine.h"
#include "settings/controls.h"
#include "settings/feedback.h"
#include "settings/feedback_window.h"
#include "support/loopback_server.h"
#include "settings/updates.h"
#include "support/test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <fstream>

namespace {

const bool widgets = TestSupport::wantWidgets();

std::vector<fs::path> copies()
{
    std::vector<fs::path> found;
    if (fs::exists(Feedback::reportsFolder()))
        for (const auto& entry : fs::directory_iterator(Feedback::reportsFolder()))
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

// A fresh form state for each test that shares the process's one model.
Feedback& report(const QString& text, const QString& email = {}, bool diagnostics = true)
{
    auto& feedback = Feedback::shared();
    feedback.setKind(Feedback::Kind::problem);
    feedback.setText(text);
    feedback.setEmail(email);
    feedback.setIncludeDiagnostics(diagnostics);
    feedback.setEndpoint({});
    return feedback;
}

QString support() { return BuildInfo::supportEmail; }

const QString noMailStatus
    = "Não há app de e-mail configurado. O relato foi copiado — cole num e-mail para " + support() + ".";

}

TEST(FeedbackTest, ABlankDescriptionIsNotSent)
{
    const auto before = copies().size();
    auto& feedback = report(" \n\t  \n");
    feedback.send();
    EXPECT_EQ(feedback.status(), "Descreva o que aconteceu antes de enviar.");
    EXPECT_EQ(copies().size(), before);
}

TEST(FeedbackTest, SubjectKeepsSixtyCharactersAsTheUserSeesThem)
{
    // "é" written as e and a combining accent is one character; so is a flag of two code points.
    QString body;
    for (int i = 0; i < 58; ++i)
        body += "e\u0301";
    body += "🇧🇷🇧🇷xyz\nmais";
    const auto subject = Feedback::subject(Feedback::Kind::suggestion, body);
    const QString head = "[Brivlon " + Updates::displayVersion() + "] Sugestão: ";
    ASSERT_TRUE(subject.startsWith(head));
    EXPECT_EQ(subject.mid(head.size()), body.left(58 * 2) + "🇧🇷🇧🇷");
    EXPECT_EQ(Feedback::subject(Feedback::Kind::problem, "curto\nfim"),
        "[Brivlon " + Updates::displayVersion() + "] Problema: curto\nfim");
}

TEST(FeedbackTest, MailBodyAndCopies)
{
    EXPECT_EQ(Feedback::mailBody("texto", "", ""), "texto");
    EXPECT_EQ(Feedback::mailBody("texto", "a@b.example", ""), "texto\n\nContato: a@b.example");
    EXPECT_EQ(Feedback::mailBody("texto", "", "D"), "texto\n\n— Diagnóstico —\nD");

    // No e-mail, no diagnostics: the copy still has its "Contato: " line and ends in three breaks.
    for (const auto& old : copies())
        fs::remove(old);
    report("  Travou ao converter.  ", {}, false).send();
    // The same second: the second copy takes a free name and the first stays.
    report("Outro relato", "eu@exemplo.example", true).send();
    const auto saved = copies();
    ASSERT_EQ(saved.size(), 2u);
    std::vector<std::string> contents{TestSupport::readFile(saved[0]), TestSupport::readFile(saved[1])};
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents[1], "Problema\n\nTravou ao converter.\n\nContato: \n\n\n");
    EXPECT_EQ(contents[0].rfind("Problema\n\nOutro relato\n\nContato: eu@exemplo.example\n\nBrivlon ", 0), 0u);
    EXPECT_EQ(contents[0].back(), '\n');
    for (const auto& path : saved)
        EXPECT_EQ(path.extension(), ".txt");
}

TEST(FeedbackTest, DiagnosticsWords)
{
    using Phase = OfficeComponent::State::Phase;
    const std::vector<std::pair<OfficeComponent::State, QString>> states{
        {{Phase::downloading, 0.429, {}}, "baixando 42%"},
        {{Phase::failed, 0, "sem espaço"}, "falhou: sem espaço"},
        {{Phase::notInstalled, 0, {}}, "não instalado"},
        {{Phase::waitingNetwork, 0, {}}, "aguardando internet"},
        {{Phase::installing, 0, {}}, "instalando"},
        {{Phase::ready, 0, {}}, "instalado"},
        {{Phase::waitingNetwork, 0, {}, "LibreOffice 7.4"}, "LibreOffice 7.4 do sistema"},
        {{Phase::ready, 0, {}, "LibreOffice 7.4"}, "instalado"},
    };
    for (const auto& [state, word] : states)
        EXPECT_EQ(Feedback::componentWord(state), word);

    qunsetenv("BRIVLON_THEME");
    const std::vector<std::tuple<const char*, bool, QString>> looks{
        {"macos", true, "Tema: macOS · Teclas: uma por leque"},
        {"classic", false, "Tema: Clássico · Teclas: uma tecla só"},
        {"stage", true, "Tema: Palco · Teclas: uma por leque"},
    };
    for (const auto& [theme, separate, line] : looks) {
        Defaults::set(SettingKey::theme, QString(theme));
        Defaults::set(SettingKey::separateKeys, separate);
        const auto lines = Feedback::diagnostics().split('\n');
        ASSERT_EQ(lines.size(), 6);
        EXPECT_EQ(lines[3], line);
    }
    const auto lines = Feedback::diagnostics().split('\n');
    EXPECT_TRUE(lines[0].startsWith("Brivlon " + Updates::displayVersion() + " (build "));
    EXPECT_TRUE(lines[1].contains(" · "));
    // The processor's model, where the kernel names one (x86 always does).
    std::ifstream cpuinfo("/proc/cpuinfo");
    const std::string info((std::istreambuf_iterator<char>(cpuinfo)), std::istreambuf_iterator<char>());
    if (info.find("model name") != std::string::npos) {
        const auto processor = lines[1].section(" · ", -1).toStdString();
        EXPECT_FALSE(processor.empty());
        EXPECT_NE(info.find(": " + processor), std::string::npos) << processor;
    }
    // The machine's LibreOffice, where the bootstrap installs one, converts in the component's place.
    const auto suite = OfficeEngine::systemSuite();
    EXPECT_EQ(lines[2].toStdString(),
        "Motor de documentos: " + (suite ? suite->name + " do sistema" : std::string("não instalado")));
    EXPECT_EQ(lines[4], "Últimos erros:");
    EXPECT_EQ(lines[5], "(nenhum erro registrado)");
    ErrorLog::add("falhou A");
    ErrorLog::add("falhou B");
    EXPECT_TRUE(Feedback::diagnostics().endsWith("Z  falhou A\n" + Feedback::diagnostics().section('\n', -1)));
}

TEST(FeedbackTest, AMailHandlerGetsTheExactMessage)
{
    TestSupport::TempDir dir;
    const auto received = dir / "url";
    const auto script = dir / "mail.sh";
    TestSupport::writeFile(script,
        "#!/bin/sh\nprintf '%s' \"$1\" > '" + received.string() + ".part' && mv '" + received.string() + ".part' '"
            + received.string() + "'\n");
    fs::permissions(script, fs::perms::owner_all);
    const fs::path data = qEnvironmentVariable("XDG_DATA_HOME").toStdString();
    const fs::path config = qEnvironmentVariable("XDG_CONFIG_HOME").toStdString();
    fs::create_directories(data / "applications");
    fs::create_directories(config);
    TestSupport::writeFile(data / "applications/fake-mail.desktop",
        "[Desktop Entry]\nType=Application\nName=Correio\nExec=" + script.string()
            + " %u\nMimeType=x-scheme-handler/mailto;\nNoDisplay=true\n");
    TestSupport::writeFile(
        config / "mimeapps.list", "[Default Applications]\nx-scheme-handler/mailto=fake-mail.desktop\n");

    const QString text = "Preço & taxa = 10 + 2 #3\nsegunda linha\r\nção";
    auto& feedback = report(text, "eu@exemplo.example", false);
    feedback.open();
    auto* window = feedback.window();
    ASSERT_TRUE(window && window->isVisible());
    QElapsedTimer clock;
    clock.start();
    feedback.send();
    EXPECT_EQ(feedback.status(), "Abrimos um e-mail pronto para " + support() + " — é só tocar em Enviar.");
    EXPECT_TRUE(feedback.text().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return fs::exists(received);
        },
        5000));
    const QUrl url(QString::fromStdString(TestSupport::readFile(received)));
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), support());
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), Feedback::subject(Feedback::Kind::problem, text));
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded), text + "\n\nContato: eu@exemplo.example");

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !window->isVisible();
        },
        5000));
    EXPECT_GE(clock.elapsed(), Feedback::closeDelayMs - 100);
    fs::remove(config / "mimeapps.list");
}

TEST(FeedbackTest, WithoutAMailProgramTheReportIsCopied)
{
    auto& feedback = report("Não abriu o PDF", "", false);
    feedback.open();
    feedback.send();
    EXPECT_EQ(feedback.status(), noMailStatus);
    EXPECT_EQ(feedback.text(), "Não abriu o PDF");
    EXPECT_TRUE(feedback.window()->isVisible());
    EXPECT_EQ(feedback.window()->statusLabel()->text(), noMailStatus);
    EXPECT_EQ(QApplication::clipboard()->text(),
        "Para: " + support() + "\nAssunto: " + Feedback::subject(Feedback::Kind::problem, "Não abriu o PDF")
            + "\n\nNão abriu o PDF");
    feedback.window()->close();
}

// The form keeps its width and wraps its long texts in it, the status included.
TEST(FeedbackTest, TheFormIsItsFixedWidthWithEveryTextWhole)
{
    auto& feedback = report("Não abriu o PDF", "", true);
    feedback.open();
    auto* window = feedback.window();
    QApplication::processEvents();
    EXPECT_EQ(window->width(), 460);
    EXPECT_EQ(window->minimumWidth(), window->maximumWidth());
    EXPECT_EQ(TestSupport::clippedControls(*window), std::vector<std::string>{});
    EXPECT_GT(window->diagnosticsSwitch()->height(), 28) << "the diagnostics label takes two lines";
    const int quiet = window->height();

    feedback.send();
    ASSERT_EQ(feedback.status(), noMailStatus);
    QApplication::processEvents();
    EXPECT_EQ(window->width(), 460);
    EXPECT_EQ(TestSupport::clippedControls(*window), std::vector<std::string>{});
    EXPECT_GT(window->height(), quiet);
    feedback.window()->close();
}

// The form as a user meets it: "Enviar" with nothing typed, then the description typed into the
// field and sent, technical details included; the copy is kept and the form stays with its status.
TEST(FeedbackTest, TheFormSendsWhatIsTypedAfterABlankTry)
{
    const auto before = copies().size();
    auto& feedback = report({}, {}, true);
    feedback.open();
    auto* window = feedback.window();
    ASSERT_TRUE(window);
    QTest::mouseClick(window->sendButton(), Qt::LeftButton);
    EXPECT_EQ(window->statusLabel()->text(), "Descreva o que aconteceu antes de enviar.");
    EXPECT_EQ(copies().size(), before);

    ErrorLog::add("Falhou ao abrir foto.heic");
    QTest::keyClicks(window->textEdit(), "O video parou em 40%");
    QTest::keyClicks(window->emailField(), "eu@exemplo.example");
    QTest::mouseClick(window->sendButton(), Qt::LeftButton);
    EXPECT_EQ(window->statusLabel()->text(), noMailStatus);
    ASSERT_EQ(copies().size(), before + 1);
    const auto kept = copies();
    EXPECT_TRUE(std::any_of(kept.begin(), kept.end(), [](const fs::path& copy) {
        const auto text = TestSupport::readFile(copy);
        return text.find("O video parou em 40%") != std::string::npos
            && text.find("Falhou ao abrir foto.heic") != std::string::npos;
    }));
    window->close();
}

TEST(FeedbackTest, ACollectorTakesTheReportAsJson)
{
    const auto before = copies().size();
    LoopbackServer accepted(LoopbackServer::json("{}", 201));
    auto& feedback = report("Ideia boa", "eu@exemplo.example", false);
    feedback.setKind(Feedback::Kind::suggestion);
    feedback.setEndpoint(QString::fromStdString(accepted.url("/relatos")));
    feedback.send();
    EXPECT_EQ(feedback.status(), "Enviando…");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return feedback.status() != "Enviando…";
        },
        5000));
    EXPECT_EQ(feedback.status(), "Enviado! Obrigado — cada relato ajuda a melhorar o Brivlon.");
    ASSERT_EQ(accepted.requests().size(), 1u);
    EXPECT_EQ(accepted.header("Content-Type"), "application/json");
    const auto request = accepted.requests().front();
    const auto json = QJsonDocument::fromJson(QByteArray::fromStdString(request.substr(request.find("\r\n\r\n") + 4)));
    EXPECT_EQ(json.object(),
        (QJsonObject{{"tipo", "Sugestão"}, {"texto", "Ideia boa"}, {"email", "eu@exemplo.example"}, {"diagnostico", ""},
            {"versao", Updates::currentVersion()}}));

    // A refusal falls back to the mail route, here the clipboard.
    LoopbackServer refused(LoopbackServer::json("{}", 500));
    report("De novo").setEndpoint(QString::fromStdString(refused.url("/relatos")));
    feedback.send();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return feedback.status() != "Enviando…";
        },
        5000));
    EXPECT_EQ(feedback.status(), noMailStatus);
    EXPECT_EQ(copies().size(), before + 2);
}
