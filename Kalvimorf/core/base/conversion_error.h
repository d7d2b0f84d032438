#pragma once

#include <stdexcept>
#include <string>

// The one error of the conversion engines; what() is the Portuguese sentence shown to the user.
class ConversionError : public std::runtime_error {
public:
    // ffmpeg is the case that carries its own sentence: a tool's message, or the program's own
    // word on why the work stopped (a damaged file, a password, the job's memory, a crash).
    enum class Kind { ffmpeg, unreadable, writeFailed, ffmpegMissing, unsupported };

    // The error that says `sentence`, whatever stopped the work.
    static ConversionError because(const std::string& sentence) { return {Kind::ffmpeg, sentence}; }
    static ConversionError unreadable() { return {Kind::unreadable, {}}; }
    static ConversionError writeFailed() { return {Kind::writeFailed, {}}; }
    static ConversionError ffmpegMissing() { return {Kind::ffmpegMissing, {}}; }
    static ConversionError unsupported() { return {Kind::unsupported, {}}; }

    Kind kind() const { return kind_; }
    // The sentence of the ffmpeg case, empty otherwise.
    const std::string& message() const { return message_; }
    static std::string describe(Kind kind, const std::string& message);

private:
    ConversionError(Kind kind, std::string message)
        : std::runtime_error(describe(kind, message)), kind_(kind), message_(std::move(message))
    {
    }
    Kind kind_;
    std::string message_;
};

// What the user is told about an error, at every edge where one stops (a job row, "erro: ", a
// worker's answer): the error's own sentence, or for a system or file-system failure a
// Portuguese sentence of the reason, naming the item when the error names one.
std::string describeError(const std::exception& error);

// Thrown where work stops because its job was cancelled; the job ends cancelled, never failed.
class CancellationError : public std::runtime_error {
public:
    CancellationError() : std::runtime_error("cancelado") { }
};
