#include "support/test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>

#include <fstream>
#include <sstream>

namespace TestSupport {

namespace {
bool widgets = false;
}

bool wantWidgets() { return widgets = true; }
bool widgetsWanted() { return widgets; }

std::vector<std::string> clippedControls(const QWidget& root)
{
    std::vector<std::string> clipped;
    for (auto* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root) || widget->isWindow())
            continue;
        auto* label = qobject_cast<QLabel*>(widget);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        const bool field = qobject_cast<QLineEdit*>(widget) || qobject_cast<QComboBox*>(widget);
        if (!label && !button && !field)
            continue;
        QString text = label ? label->text() : button ? button->text() : QString();
        const QRect geometry = widget->geometry();
        bool whole = QRect(QPoint(), widget->parentWidget()->size()).contains(geometry);
        if (widget->hasHeightForWidth())
            whole = whole && widget->heightForWidth(geometry.width()) <= geometry.height();
        else if (label || button)
            whole = whole && geometry.width() >= widget->sizeHint().width();
        else
            whole = whole && geometry.width() >= widget->minimumSizeHint().width();
        if (!whole) {
            const auto size = widget->parentWidget()->size();
            clipped.push_back(QString("%1 '%2' %3,%4 %5x%6 in %7x%8 (needs %9)")
                                  .arg(widget->metaObject()->className(), text)
                                  .arg(geometry.x())
                                  .arg(geometry.y())
                                  .arg(geometry.width())
                                  .arg(geometry.height())
                                  .arg(size.width())
                                  .arg(size.height())
                                  .arg(widget->sizeHint().width())
                                  .toStdString());
        }
    }
    return clipped;
}

void writeFile(const fs::path& path, const std::string& contents)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << contents;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments, double timeoutSeconds,
    const std::vector<std::pair<std::string, std::string>>& env, const std::string& cwd)
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : env)
        environment.insert(QString::fromStdString(name), QString::fromStdString(value));
    process.setProcessEnvironment(environment);
    if (!cwd.empty())
        process.setWorkingDirectory(QString::fromStdString(cwd));
    QStringList list;
    for (const auto& argument : arguments)
        list << QString::fromStdString(argument);
    process.start(QString::fromStdString(program), list);
    RunResult result;
    if (!process.waitForStarted(10000))
        return result;
    if (!process.waitForFinished(int(timeoutSeconds * 1000))) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(5000);
    } else {
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

bool makeMedia(const fs::path& out, const std::string& source, std::vector<std::string> options)
{
    options.insert(options.begin(), {"-loglevel", "error", "-f", "lavfi", "-i", source});
    options.push_back(out.string());
    return runProgram("/usr/bin/ffmpeg", options).exitCode == 0;
}

RunResult runBrivlon(const std::vector<std::string>& arguments, double timeoutSeconds,
    const std::vector<std::pair<std::string, std::string>>& env)
{
    return runProgram(BRIVLON_BINARY, arguments, timeoutSeconds, env);
}

}
