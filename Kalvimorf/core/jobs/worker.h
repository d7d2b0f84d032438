#pragma once

// Conversions run in workers: this same executable started in a hidden mode, so that a library
// that crashes or never returns on a bad file takes only that worker down.
//
// The worker's standard input and output are one socket carrying frames: a 32-bit big-endian
// length, then that many bytes of QDataStream.
//   parent → worker: a request (Requests::pack), then another once it was answered, as long as
//                    the parent keeps the worker.
//   worker → parent: "ready" at start; for each request "progress" any number of times, then
//                    one of "done" (the output), "failed" (the sentence for the user),
//                    "cancelled".
// A parent that hangs up ends the worker and every tool it started.

#include "core/base/catalog.h"
#include "core/jobs/request.h"

#include <QByteArray>

#include <functional>
#include <optional>
#include <string>

namespace Worker {

// The hidden option that starts the worker mode.
inline constexpr const char* option = "--worker";

struct Answer {
    // notice and component are the office route's news for the desktop side, between a request's
    // progress reports; the others as their names say.
    // staged names a hidden file or folder the job made beside its outputs (FileSafety::HiddenNames);
    // note is a sentence for the user from a job that goes on (JobNotes); working says the job's
    // tools go on without a fraction to report (WorkPulse).
    enum class Kind { ready, progress, done, failed, cancelled, notice, component, staged, note, working };
    Kind kind = Kind::ready;
    double fraction = 0;  // progress
    fs::path output;  // done, staged; the source a note is about
    std::string message;  // failed, notice, note
    bool operator==(const Answer&) const = default;
};

QByteArray pack(const Answer& answer);
std::optional<Answer> unpackAnswer(const QByteArray& bytes);

// The payload with its length in front.
QByteArray frame(const QByteArray& payload);
// Takes the first whole frame off the front of `buffer`; nothing while it is incomplete. Throws
// std::length_error for a length no frame of ours has.
std::optional<QByteArray> takeFrame(QByteArray& buffer);

// Writes `data` whole to the socket `channel`; false once the other side has gone (no SIGPIPE).
bool sendAll(int channel, const QByteArray& data);
// The answer's frame, as sendAll.
bool send(int channel, const Answer& answer);
// The next whole frame from `fd`, what came after it kept in `pending` for the next call;
// nothing once the other side hung up or sent something that is no frame of ours.
std::optional<QByteArray> readFrame(int fd, QByteArray& pending);

// The answer to a job that `work` does in a worker, bound to a job of its own (fresh name claims,
// no cancellation: the parent ends the process instead): done with the output it gives,
// cancelled, or failed with describeError's sentence. A job that ran the worker out of its
// address space ends the worker instead: the libraries' heaps are in whatever state they failed
// in, and the parent reports the job as crashed and starts a fresh worker for the next.
Answer answerFor(const std::function<fs::path()>& work);

}
