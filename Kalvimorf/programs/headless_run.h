#pragma once

#include "core/jobs/request.h"
#include "programs/cli.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// What `--convert`, `--tool` and `--trim` share: one worker for the run (a fresh one after a crash or a
// hang), the files one after another, a termination signal that cancels the run and ends its
// tools, and the exit code.
namespace HeadlessRun {

void printLine(FILE* stream, const std::string& line);

// An output's path as printed, one per line: as it is, unless it holds a control character (a
// line feed would make it two lines) or starts with "$'"; then the way shells and ls quote such
// names, $'…' with \n, \t, \\, \' and \ooo for the other control bytes.
std::string shownPath(const std::filesystem::path& path);
void printPath(const std::filesystem::path& path);
// An error's sentence on one line: a name or folder in it that holds a control character is
// quoted as printed paths are, in place of its quotation marks.
std::string shownSentence(const std::string& sentence);
// "erro: " and the error's sentence so shown, on standard error.
void printError(const std::exception& error);

// Blocks SIGTERM, SIGINT and SIGHUP and takes them on a thread of its own. Must run before any
// other thread exists, so that every thread inherits the mask.
void takeTerminationSignals();
// Only blocks them, for perform() to take them once it has started its worker: a fork of a
// process with one thread keeps the C library's single-threaded paths (see perform()). What
// comes meanwhile waits for the thread.
void blockTerminationSignals();

// Carries out `requests` in order in the run's worker, printing each output's path; the first
// failure prints "erro: " and its sentence and stops. 0, or 1 after a failure. `plan` builds the
// requests inside the run's cancellation, so that a failure there is reported the same way.
Cli::ExitCode perform(const std::function<std::vector<Request>()>& plan);

// Whether a termination signal came: the failure it causes is no news to whoever sent it.
bool signalled();

// Ends the process: an interrupted run with 128 + the signal, whatever the work made of it.
[[noreturn]] void finish(Cli::ExitCode code);

}
