#pragma once

#include <QUuid>

#include <filesystem>
#include <optional>
#include <string>

// One row of work the user sees: a conversion, a batch, a tool run, an export, a notice.
struct Job {
    struct State {
        enum class Kind { done, failed, info, running, cancelled };
        Kind kind = Kind::running;
        // done: the output; info: the related item, when there is one.
        std::optional<std::filesystem::path> url;
        // failed and info: the text for the user.
        std::string message;

        static State done(std::filesystem::path output) { return {Kind::done, std::move(output), {}}; }
        static State failed(std::string text) { return {Kind::failed, std::nullopt, std::move(text)}; }
        static State info(std::string text, std::optional<std::filesystem::path> item = std::nullopt)
        {
            return {Kind::info, std::move(item), std::move(text)};
        }
        static State running() { return {}; }
        static State cancelled() { return {Kind::cancelled, std::nullopt, {}}; }

        bool is(Kind other) const { return kind == other; }
    };

    QUuid id = QUuid::createUuid();
    std::string sourceName;
    std::string target;
    // Absent while indeterminate.
    std::optional<double> progress;
    State state;
    // False while the job waits for a place at its gate.
    bool started = false;

    bool isRunning() const { return state.kind == State::Kind::running; }
};
