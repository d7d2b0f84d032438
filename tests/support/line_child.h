#pragma once

// A helper program of a window test, talked to in lines: what it prints is read with a deadline,
// what it is told goes to its standard input. It runs on the X server of the test (xcb).

#include <QProcess>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace TestSupport {

class LineChild {
public:
    LineChild(const std::string& program, const std::vector<std::string>& arguments = {},
        const std::vector<std::pair<std::string, std::string>>& env = {});
    ~LineChild();
    LineChild(const LineChild&) = delete;
    LineChild& operator=(const LineChild&) = delete;

    // The next line printed, or nothing at the deadline or when the program ended.
    std::optional<std::string> nextLine();
    ::testing::AssertionResult expect(const std::string& expected);
    void send(const std::string& line);
    qint64 pid() const { return process_.processId(); }
    // True when the program has ended within `ms`; its exit code then.
    bool finished(int ms) { return process_.waitForFinished(ms); }
    int exitCode() const { return process_.exitCode(); }

private:
    QProcess process_;
    std::string name_;
};

}

// Returns a failed step's result from the function that runs the steps.
#define REQUIRE(step)                                                                                                  \
    do {                                                                                                               \
        auto result_ = (step);                                                                                         \
        if (!result_)                                                                                                  \
            return result_;                                                                                            \
    } while (0)
