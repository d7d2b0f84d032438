#include "support/test_support.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

int pythonWithPDFWriter(const std::string& script, const fs::path& cwd)
{
    static const std::string writer = R"(
def write(path, objs):
    out, offsets = b"%PDF-1.4\n", []
    for n, body in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
    open(path, "wb").write(out + b"trailer << /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref))
)";
    return runProgram("/usr/bin/python3", {"-c", writer + script}, 120, {}, cwd.string()).exitCode;
}

void makeReportingTools(const fs::path& resources, const fs::path& report, const fs::path& secret)
{
    const auto quoted = [](const fs::path& path) {
        std::string text = "'";
        for (const char c : path.string())
            text += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return text + "'";
    };
    fs::create_directories(resources / "bin");
    const std::string script = "#!/bin/sh\n"
                               "privs=$(grep '^NoNewPrivs:' /proc/self/status | tr -d ' \\t')\n"
                               "filter=$(grep '^Seccomp:' /proc/self/status | tr -d ' \\t')\n"
                               "if cat "
        + quoted(secret)
        + " >/dev/null 2>&1; then read=lido; else read=recusado; fi\n"
          "echo \"$(basename \"$0\") $privs $filter $read\" >> "
        + quoted(report) + "\nexit 1\n";
    for (const char* name : {"ffmpeg", "ffprobe"}) {
        writeFile(resources / "bin" / name, script);
        fs::permissions(resources / "bin" / name, fs::perms::owner_all);
    }
}

std::vector<std::string> reportLines(const fs::path& report)
{
    std::vector<std::string> lines;
    std::istringstream text(fs::exists(report) ? readFile(report) : std::string());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

bool makeMedia(const fs::path& out, const std::string& source, std::vector<std::string> options)
{
    options.insert(options.begin(), {"-loglevel", "error", "-f", "lavfi", "-i", source});
    options.push_back(out.string());
    return runProgram("/usr/bin/ffmpeg", options).exitCode == 0;
}

bool makePhoneVideo(const fs::path& out)
{
    const auto sensor = out.parent_path() / ("sensor-" + out.filename().string());
    if (!makeMedia(sensor, "testsrc2=size=96x64:duration=1:rate=10",
            {"-f", "lavfi", "-i", "sine=duration=1", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                "-c:a", "aac", "-shortest"}))
        return false;
    // Phones store the picture as the sensor saw it and the way to hold it beside.
    const bool made
        = runProgram("/usr/bin/ffmpeg",
              {"-loglevel", "error", "-i", sensor.string(), "-c", "copy", "-metadata:s:v:0", "rotate=90", out.string()})
              .exitCode
        == 0;
    fs::remove(sensor);
    return made;
}

bool makeRecording(const fs::path& out, bool sound)
{
    std::vector<std::string> options = {"-c:v", "libx264", "-preset", "ultrafast", "-g", "5", "-metadata",
        "title=Reunião", "-movflags", "frag_keyframe+empty_moov"};
    if (sound)
        options.insert(options.begin(), {"-f", "lavfi", "-i", "sine=440:duration=2", "-c:a", "aac"});
    if (!makeMedia(out, "testsrc2=rate=10:size=320x240:duration=2", options))
        return false;
    auto bytes = readFile(out);
    // Each track's media header (version 0): the length after two times and the time scale.
    for (auto at = bytes.find("mdhd"); at != std::string::npos; at = bytes.find("mdhd", at + 4))
        bytes.replace(at + 20, 4, "\xff\xff\xff\xff");
    const auto index = bytes.rfind("mfra");
    if (index == std::string::npos)
        return false;
    bytes.resize(index - 4);
    writeFile(out, bytes);
    return true;
}

bool makeLameMP3(const fs::path& out, double seconds)
{
    const auto wav = out.parent_path() / ("lame-" + out.stem().string() + ".wav");
    if (!makeMedia(wav, "sine=frequency=330:sample_rate=44100:duration=" + std::to_string(seconds), {"-ac", "2"}))
        return false;
    const bool made
        = runProgram("/usr/bin/lame", {"--quiet", "--replaygain-accurate", wav.string(), out.string()}).exitCode == 0;
    fs::remove(wav);
    return made;
}

std::string shownFrame(const fs::path& file)
{
    return runProgram("/usr/bin/ffmpeg",
        {"-loglevel", "error", "-i", file.string(), "-frames:v", "1", "-vf", "scale=8:8", "-f", "rawvideo", "-pix_fmt",
            "gray", "-"})
        .out;
}

bool samePicture(const std::string& a, const std::string& b)
{
    if (a.size() != 64 || b.size() != 64)
        return false;
    int difference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        difference += std::abs(int((unsigned char)a[i]) - int((unsigned char)b[i]));
    return difference / 64 < 12;
}

MeasuredRun measureBrivlon(const std::vector<std::string>& arguments)
{
    std::vector<std::string> strings{BRIVLON_BINARY};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : strings)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::execv(BRIVLON_BINARY, argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage { };
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return {};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss / 1024};
}

RunResult runBrivlon(const std::vector<std::string>& arguments, double timeoutSeconds,
    const std::vector<std::pair<std::string, std::string>>& env)
{
    return runProgram(BRIVLON_BINARY, arguments, timeoutSeconds, env);
}

std::filesystem::path convertWithoutSuite(const std::filesystem::path& source, const std::string& ext, std::string* error)
{
    auto result = runBrivlon({"--convert", ext, source.string()}, 120, {{"BRIVLON_NO_COMPONENTS", "1"}});
    if (error)
        *error = result.err;
    if (result.exitCode != 0)
        return {};
    std::string out = result.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

}
