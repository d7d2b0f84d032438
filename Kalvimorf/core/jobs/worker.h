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

#include <QByteArray>

#include <optional>
#include <string>

namespace Worker {

// The hidden option that starts the worker mode.
inline constexpr const char* option = "--worker";

struct Answer {
    // notice and component are the office route's news for the desktop side, between a request's
    // progress reports; the others as their names say.
    enum class Kind { ready, progress, done, failed, cancelled, notice, component };
    Kind kind = Kind::ready;
    double fraction = 0;  // progress
    fs::path output;  // done
    std::string message;  // failed, notice
    bool operator==(const Answer&) const = default;
};

QByteArray pack(const Answer& answer);
std::optional<Answer> unpackAnswer(const QByteArray& bytes);

// The payload with its length in front.
QByteArray frame(const QByteArray& payload);
// Takes the first whole frame off the front of `buffer`; nothing while it is incomplete. Throws
// std::length_error for a length no frame of ours has.
std::optional<QByteArray> takeFrame(QByteArray& buffer);

// The worker mode's main: no application object, no display. Never returns.
// `startImageLibrary`: start the image library while waiting for the first request (a worker
// kept ready then has it started when its job comes).
[[noreturn]] void serve(bool startImageLibrary = true);

}
