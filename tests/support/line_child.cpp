#include "support/line_child.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace TestSupport {

namespace {

// Generous: the machine may be busy with a whole parallel test run.
constexpr int lineDeadlineMs = 15000;

// A long file list would bury the message.
std::string shortened(const std::string& text) { return text.size() <= 400 ? text : text.substr(0, 400) + "…"; }

}

LineChild::LineChild(const std::string& program, const std::vector<std::string>& arguments,
    const std::vector<std::pair<std::string, std::string>>& env)
{
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : env)
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList list;
    for (const auto& argument : arguments)
        list << QString::fromStdString(argument);
    process_.start(QString::fromStdString(program), list);
    name_ = std::filesystem::path(program).filename().string();
}

LineChild::~LineChild()
{
    process_.closeWriteChannel();
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
}

std::optional<std::string> LineChild::nextLine()
{
    QDeadlineTimer deadline(lineDeadlineMs);
    while (!process_.canReadLine()) {
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
            return std::nullopt;
        process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    auto line = process_.readLine().toStdString();
    // DRAG_TEST_TRACE=1 shows the whole conversation when a round goes wrong.
    if (std::getenv("DRAG_TEST_TRACE"))
        std::fprintf(stderr, "%s: %s", name_.c_str(), shortened(line).c_str());
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

::testing::AssertionResult LineChild::expect(const std::string& expected)
{
    const auto line = nextLine();
    if (!line)
        return ::testing::AssertionFailure() << name_ << ": waited in vain for \"" << shortened(expected) << "\"";
    if (*line != expected)
        return ::testing::AssertionFailure()
            << name_ << ": expected \"" << shortened(expected) << "\", got \"" << shortened(*line) << "\"";
    return ::testing::AssertionSuccess();
}

void LineChild::send(const std::string& line)
{
    process_.write(QByteArray::fromStdString(line + "\n"));
    process_.waitForBytesWritten(lineDeadlineMs);
}

}
