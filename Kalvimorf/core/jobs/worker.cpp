#include "core/jobs/worker.h"

#include "core/base/conversion_error.h"
#include "documents/archive_engine.h"
#include "core/jobs/engine.h"
#include "core/base/file_safety.h"
#include "core/engines/image_engine.h"
#include "core/engines/image_library.h"
#include "core/engines/pdf_engine.h"
#include "core/base/process.h"
#include "core/base/quality.h"
#include "core/base/task.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace Worker {

namespace {

const std::map<Request::Op, std::string> opNames = {
    {Request::Op::convert, "convert"},
    {Request::Op::mergePDF, "pdf"},
    {Request::Op::mergeImages, "images"},
    {Request::Op::archive, "archive"},
};

int channel = -1;
std::mutex sending;

void send(const std::string& line)
{
    std::lock_guard lock(sending);
    const std::string data = line + "\n";
    size_t offset = 0;
    while (offset < data.size()) {
        // No SIGPIPE: a parent that has gone is noticed by the watcher below.
        ssize_t count = ::send(channel, data.data() + offset, data.size() - offset, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            ::_exit(1);
        offset += size_t(count);
    }
}

// The parent made TMPDIR for this worker alone and removes it once it has reaped the worker; a
// parent that has gone cannot, so a worker left alone ends its tools and removes it itself.
[[noreturn]] void abandoned()
{
    Process::Live::signalAll(SIGKILL);
    const char* folder = std::getenv("TMPDIR");
    if (folder && fs::path(folder).filename().string().starts_with("kalvimorf-"))
        FileSafety::removeTree(folder);
    // The worker leads its own process group: that ends whatever a tool started in turn.
    if (::getpgrp() == ::getpid())
        ::kill(0, SIGKILL);
    ::_exit(1);
}

// Lines from standard input up to "go"; nothing when the parent hung up first.
std::optional<std::vector<std::string>> readRequestLines()
{
    std::vector<std::string> lines;
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return std::nullopt;
        pending.append(buffer, size_t(count));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
            if (lines.back() == "go")
                return lines;
        }
    }
}

std::optional<Request> parse(const std::vector<std::string>& lines)
{
    Request request;
    bool known = false;
    for (const auto& line : lines) {
        const auto space = line.find(' ');
        const auto key = line.substr(0, space);
        const auto value = space == std::string::npos ? std::string() : unescape(line.substr(space + 1));
        if (key == "op") {
            for (const auto& [op, name] : opNames)
                if (name == value) {
                    request.op = op;
                    known = true;
                }
        } else if (key == "source") {
            request.sources.emplace_back(value);
        } else if (key == "kind") {
            request.kind = MediaKinds::fromRaw(value).value_or(MediaKind::other);
        } else if (key == "ext") {
            request.format.ext = value;
        } else if (key == "label") {
            request.format.label = value;
        } else if (key == "batch") {
            request.format.batch = value == "1";
        } else if (key == "quality") {
            request.quality = QualityLevels::fromRaw(value);
        } else if (key == "folder") {
            request.folder = fs::path(value);
        }
    }
    if (!known || request.sources.empty())
        return std::nullopt;
    return request;
}

// A hook for the tests of isolation, harmless in use: a source whose file name equals
// BRIVLON_WORKER_ABORT_ON or BRIVLON_WORKER_SPIN_ON makes the worker crash or hang, as a library
// does on some damaged files.
void springTraps(const Request& request)
{
    const auto named = [&request](const char* variable) {
        const char* name = std::getenv(variable);
        for (const auto& source : request.sources)
            if (name && source.filename() == name)
                return true;
        return false;
    };
    if (named("BRIVLON_WORKER_ABORT_ON"))
        std::abort();
    if (named("BRIVLON_WORKER_SPIN_ON"))
        for (volatile bool forever = true; forever;) { }
}

fs::path perform(const Request& request)
{
    Progress progress = [](double value) {
        char text[32];
        auto end = std::to_chars(text, text + sizeof text, value).ptr;
        send("progress " + std::string(text, end));
    };
    switch (request.op) {
    case Request::Op::convert: return Engine::convert(request.sources.front(), request.kind, request.format, progress);
    case Request::Op::mergePDF: return PDFEngine::merge(request.sources);
    case Request::Op::mergeImages: return ImageEngine::mergeToPDF(request.sources);
    case Request::Op::archive: return ArchiveEngine::create(request.sources, request.format);
    }
    throw ConversionError::unsupported();
}

}

std::string escape(std::string_view value)
{
    std::string result;
    for (char c : value) {
        switch (c) {
        case '\\': result += "\\\\"; break;
        case '\n': result += "\\n"; break;
        case '\r': result += "\\r"; break;
        default: result += c;
        }
    }
    return result;
}

std::string unescape(std::string_view value)
{
    std::string result;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            result += value[i];
            continue;
        }
        const char next = value[++i];
        result += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return result;
}

std::string encode(const Request& request)
{
    std::string text = "op " + opNames.at(request.op) + "\n";
    for (const auto& source : request.sources)
        text += "source " + escape(source.string()) + "\n";
    text += "kind " + MediaKinds::rawValue(request.kind) + "\n";
    text += "ext " + escape(request.format.ext) + "\n";
    text += "label " + escape(request.format.label) + "\n";
    text += std::string("batch ") + (request.format.batch ? "1" : "0") + "\n";
    if (request.quality)
        text += "quality " + QualityLevels::rawValue(*request.quality) + "\n";
    if (request.folder)
        text += "folder " + escape(request.folder->string()) + "\n";
    return text + "go\n";
}

void serve()
{
    // The protocol keeps standard output to itself; a library's stray prints go to standard error.
    channel = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    // Tools stay in this worker's process group, so that ending the group ends them too.
    Process::setOwnGroups(false);
    // The image library takes tens of milliseconds to start; a worker kept ready starts it
    // while it waits for its request.
    std::thread([] {
        ImageLibrary::start();
    }).detach();
    send("ready");

    const auto lines = readRequestLines();
    if (!lines)
        abandoned();
    // Once the request is in, the parent sends nothing more: anything readable is its hang-up,
    // and then the work, and every tool it runs, has no one to report to.
    std::thread([] {
        pollfd hangUp{STDIN_FILENO, POLLIN | POLLRDHUP, 0};
        while (::poll(&hangUp, 1, -1) < 0 && errno == EINTR) { }
        abandoned();
    }).detach();

    const auto request = parse(*lines);
    if (!request) {
        send("failed " + escape(ConversionError::unsupported().what()));
        ::_exit(0);
    }
    springTraps(*request);
    Task::Binder binder(Task::newJob(request->folder, request->quality));
    try {
        send("done " + escape(perform(*request).string()));
    } catch (const CancellationError&) {
        send("cancelled");
    } catch (const std::exception& error) {
        send("failed " + escape(error.what()));
    } catch (...) {
        send("failed " + escape("Erro inesperado."));
    }
    // Nothing of this process outlives the answer; library clean-up at exit would only cost time.
    ::_exit(0);
}

}
