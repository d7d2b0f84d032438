#pragma once

#include "core/base/conversion_error.h"
#include "core/base/file_safety.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class QWidget;

namespace TestSupport {

// A fresh private folder, removed with everything in it (read-only folders too) at the end.
struct TempDir : FileSafety::TempDir {
    fs::path operator/(const std::string& name) const { return path() / name; }
};

void writeFile(const fs::path& path, const std::string& contents);
std::string readFile(const fs::path& path);

struct RunResult {
    int exitCode = -1;  // -1 when it was still running at the deadline and got killed
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs a program with an optional environment overlay; kills it after `timeoutSeconds`.
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments, double timeoutSeconds = 120,
    const std::vector<std::pair<std::string, std::string>>& env = {}, const std::string& cwd = {});
// The same for the built brivlon binary.
RunResult runBrivlon(const std::vector<std::string>& arguments, double timeoutSeconds = 120,
    const std::vector<std::pair<std::string, std::string>>& env = {});
// `brivlon --convert <ext> <source>` without the office component: the output's path, or empty
// after a failure, whose standard error then goes to `error`.
std::filesystem::path convertWithoutSuite(
    const std::filesystem::path& source, const std::string& ext, std::string* error = nullptr);

// A run of the built brivlon (its standard output dropped) and the peak resident memory, in
// MiB, of it and of the workers it waited for.
struct MeasuredRun {
    int exitCode = -1;  // -1 when it could not run or died of a signal
    long peakMiB = -1;
};
MeasuredRun measureBrivlon(const std::vector<std::string>& arguments);

// The ConversionError that calling `function` with `arguments` throws; a test failure if none is.
template <typename Function, typename... Arguments> ConversionError thrown(Function function, Arguments&&... arguments)
{
    try {
        std::invoke(function, std::forward<Arguments>(arguments)...);
    } catch (const ConversionError& error) {
        return error;
    }
    ADD_FAILURE() << "no ConversionError";
    return ConversionError::because("no ConversionError");
}

// Runs a Python script in `cwd` that may call write(path, objects): a PDF of those objects (bytes),
// numbered from 1, the first its catalog, laid out as a small writer does. Its exit code.
int pythonWithPDFWriter(const std::string& script, const fs::path& cwd);

// Makes a picture or a clip from one of ffmpeg's test sources, `options` going to the output;
// true when ffmpeg made it.
bool makeMedia(const fs::path& out, const std::string& source, std::vector<std::string> options = {});

// Tools that only tell what they may do, for a job's bounds seen from inside its tools: a
// `resources`/bin/ffmpeg and ffprobe that each add one line to `report`, "<name> NoNewPrivs:<n>
// Seccomp:<n> <lido|recusado>" (whether `secret` could be read), and fail. The program takes them
// with BRIVLON_RESOURCES naming `resources`. The secret and the folder beside it are the caller's.
void makeReportingTools(const fs::path& resources, const fs::path& report, const fs::path& secret);
// The lines `report` holds, each as written.
std::vector<std::string> reportLines(const fs::path& report);

// Media as people have them. A phone video held upright: landscape pixels that a rotation (a
// display matrix) turns to portrait, one second with sound, as MP4 or MOV by `out`'s extension.
bool makePhoneVideo(const fs::path& out);
// A screen recording as recorders and browsers write it while they record: fragmented MP4, two
// seconds (with sound unless told), whose tracks state all ones (unknown) for their length and
// which has no index of its fragments at the end.
bool makeRecording(const fs::path& out, bool sound = true);
// An MP3 from the LAME encoder, whose tag carries the track's ReplayGain.
bool makeLameMP3(const fs::path& out, double seconds = 1);
// The first picture of `file` as a player shows it, rotation applied, in 8×8 grey levels; empty
// when ffmpeg cannot decode one.
std::string shownFrame(const fs::path& file);
// Whether two shownFrame()s are the same picture, up to an encoder's losses.
bool samePicture(const std::string& a, const std::string& b);
// The visible controls under `root` (labels, buttons, fields, menus) that do not show whole: not
// inside their parent, narrower than their text (a label without wrapping, a button), or lower
// than their text at their width where it wraps. Each as "class 'text' geometry in parent size".
std::vector<std::string> clippedControls(const QWidget& root);

// A test program that shows widgets says so with a namespace-scope
// `const bool widgets = TestSupport::wantWidgets();`, before main makes the application.
bool wantWidgets();
bool widgetsWanted();

// Puts `implementation` behind a service interface for the life of the object, then nothing.
template <typename Interface> struct Installed {
    explicit Installed(std::shared_ptr<Interface> implementation) { Interface::set(std::move(implementation)); }
    ~Installed() { Interface::set(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

}
